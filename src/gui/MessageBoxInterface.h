// Questions and messages as message boxes over the active window.
#pragma once

#include "platform/UserInterface.h"

class QWidget;

namespace brisquell::gui {

class MessageBoxInterface final : public UserInterface {
 public:
  bool askYesNo(std::string_view title, std::string_view text) override;
  void inform(std::string_view title, std::string_view text) override;
  void warn(std::string_view title, std::string_view text) override;
};

}  // namespace brisquell::gui
