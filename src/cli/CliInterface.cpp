// Message texts carry CR LF for the message boxes; a terminal gets plain line ends.
#include "cli/CliInterface.h"

#include <iostream>
#include <string>

#include "platform/Console.h"

namespace brisquell::cli {

namespace {

std::string lines(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

}  // namespace

CliInterface::CliInterface(bool yes) : yes_(yes) {}

bool CliInterface::askYesNo(std::string_view, std::string_view text) {
  if (yes_) {
    std::cout << lines(text) << " yes (--yes)\n" << std::flush;
    return true;
  }
  if (!console::inputIsInteractive()) {
    refused_ = true;
    return false;
  }
  for (;;) {
    std::cout << lines(text) << " [y/N] " << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer)) {
      std::cout << "\n";
      return false;
    }
    while (!answer.empty() && (answer.back() == ' ' || answer.back() == '\r')) answer.pop_back();
    if (answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes" || answer == "YES")
      return true;
    if (answer.empty() || answer == "n" || answer == "N" || answer == "no" || answer == "No" ||
        answer == "NO")
      return false;
  }
}

void CliInterface::inform(std::string_view, std::string_view text) {
  std::cout << lines(text) << "\n" << std::flush;
}

void CliInterface::warn(std::string_view, std::string_view text) {
  std::cout << std::flush;
  std::cerr << "brisquell: " << lines(text) << "\n" << std::flush;
}

}  // namespace brisquell::cli
