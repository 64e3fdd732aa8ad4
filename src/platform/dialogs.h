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

// Real boxes through SDL; `window` is the SDL_Window* they belong to (may be null).
std::unique_ptr<Dialogs> MakeSdlDialogs(void* window);

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
