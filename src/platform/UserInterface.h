// Questions and messages to the user: message boxes in the windows, prompts on the command line,
// scripted answers in the tests.
#pragma once

#include <string_view>

namespace brisquell {

class UserInterface {
 public:
  virtual ~UserInterface() = default;
  virtual bool askYesNo(std::string_view title, std::string_view text) = 0;
  virtual void inform(std::string_view title, std::string_view text) = 0;
  virtual void warn(std::string_view title, std::string_view text) = 0;
};

}  // namespace brisquell
