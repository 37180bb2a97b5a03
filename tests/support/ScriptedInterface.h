// A UserInterface with scripted answers that records every question and message.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "platform/UserInterface.h"

namespace brisquell::test {

class ScriptedInterface final : public UserInterface {
 public:
  explicit ScriptedInterface(std::deque<bool> answers = {}) : answers_(std::move(answers)) {}
  bool askYesNo(std::string_view, std::string_view text) override {
    questions.emplace_back(text);
    if (answers_.empty()) return true;
    bool a = answers_.front();
    answers_.pop_front();
    return a;
  }
  void inform(std::string_view, std::string_view text) override { informed.emplace_back(text); }
  void warn(std::string_view, std::string_view text) override { warned.emplace_back(text); }

  std::vector<std::string> questions, informed, warned;

 private:
  std::deque<bool> answers_;
};

}  // namespace brisquell::test
