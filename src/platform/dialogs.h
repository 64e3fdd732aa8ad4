// Modal message and Yes/No confirmation boxes.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class Canvas;

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  virtual void Message(const std::string& text) = 0;
  // true for Yes, false for No. The box opens with Yes chosen.
  virtual bool Confirm(const std::string& text) = 0;
  // The same for a question whose Yes destroys something: the box opens with
  // No chosen, so Enter and Esc both answer No; Yes takes a click on it, or
  // the arrow keys (or Tab) and then Enter.
  virtual bool ConfirmDefaultNo(const std::string& text) = 0;

  // Composes the picture a box is shown over: the game as it is when the box
  // opens, so what changed just before a question (a text made clean) is seen
  // behind it. Without one, a box shows over the last picture shown.
  void SetBackdrop(std::function<const Canvas&()> compose) { backdrop_ = std::move(compose); }

 protected:
  const Canvas* Backdrop() const { return backdrop_ ? &backdrop_() : nullptr; }

 private:
  std::function<const Canvas&()> backdrop_;
};

class Window;
class FontSet;
// The game's own modal boxes over the window's picture (why not
// SDL's message box: SdlWindow::RunModal in window.cpp).
std::unique_ptr<Dialogs> MakeSdlDialogs(Window* window, std::shared_ptr<FontSet> fonts);

// Answers from a script; when no answer is queued the default button is
// taken (Yes for Confirm, No for ConfirmDefaultNo).
class ScriptedDialogs : public Dialogs {
 public:
  void Message(const std::string& text) override { shown.push_back(text); }
  bool Confirm(const std::string& text) override { return Answer(text, true); }
  bool ConfirmDefaultNo(const std::string& text) override { return Answer(text, false); }
  bool Answer(const std::string& text, bool default_answer) {
    shown.push_back(text);
    if (answers.empty()) return default_answer;
    bool a = answers.front();
    answers.pop_front();
    return a;
  }
  std::deque<bool> answers;
  std::vector<std::string> shown;
};
