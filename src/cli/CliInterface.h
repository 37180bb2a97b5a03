// Questions and messages on the command line: a prompt on a terminal, yes with --yes, and no
// answer at all (a refusal the command reports) when nobody can be asked.
#pragma once

#include "platform/UserInterface.h"

namespace brisquell::cli {

class CliInterface final : public UserInterface {
 public:
  explicit CliInterface(bool yes);
  bool askYesNo(std::string_view title, std::string_view text) override;
  void inform(std::string_view title, std::string_view text) override;
  void warn(std::string_view title, std::string_view text) override;

  /// A question came while standard input is no terminal and --yes was not given.
  bool refused() const { return refused_; }

 private:
  bool yes_;
  bool refused_ = false;
};

}  // namespace brisquell::cli
