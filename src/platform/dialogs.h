// Modal message and Yes/No confirmation boxes.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <vector>

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  virtual void Message(const std::string& text) = 0;
  // true for Yes, false for No.
  virtual bool Confirm(const std::string& text) = 0;
};

class Window;
class FontSet;
// Real boxes through SDL over the game window; where the desktop cannot show
// one, the game draws its own modal box over its last picture.
std::unique_ptr<Dialogs> MakeSdlDialogs(Window* window, std::shared_ptr<FontSet> fonts);

// Answers from a script; when no answer is queued the default button (Yes) is taken.
class ScriptedDialogs : public Dialogs {
 public:
  void Message(const std::string& text) override { shown.push_back(text); }
  bool Confirm(const std::string& text) override {
    shown.push_back(text);
    if (answers.empty()) return true;
    bool a = answers.front();
    answers.pop_front();
    return a;
  }
  std::deque<bool> answers;
  std::vector<std::string> shown;
};
