// Opening documents on Windows: FindExecutableW tells the associated program, ShellExecuteW
// starts it.
#include <windows.h>

#include <shellapi.h>

#include "platform/DocumentOpener.h"
#include "platform/win32/Wide.h"

namespace brisquell {

namespace {

class ShellDocumentOpener final : public DocumentOpener {
 public:
  Program programFor(std::string_view document, std::string_view extension) override {
    Program p;
    wchar_t found[MAX_PATH + 1] = {};
    std::wstring doc = win32::hostPath(document);
    auto r = reinterpret_cast<INT_PTR>(FindExecutableW(doc.c_str(), nullptr, found));
    if (r > 32) {
      p.lookup = Lookup::Found;
      p.command = {win32::narrow(found), std::string(document)};
      return p;
    }
    // No association, or none for a file that does not exist yet (the lookup needs one).
    p.lookup =
        r == SE_ERR_NOASSOC || r == ERROR_FILE_NOT_FOUND ? Lookup::NoProgram : Lookup::Failed;
    (void)extension;
    return p;
  }

  bool start(const std::vector<std::string>& command) override {
    if (command.empty()) return false;
    std::wstring args;
    for (std::size_t i = 1; i < command.size(); ++i) {
      if (i > 1) args += L' ';
      args += L'"' + win32::widen(command[i]) + L'"';
    }
    auto r = reinterpret_cast<INT_PTR>(
        ShellExecuteW(nullptr, L"open", win32::widen(command[0]).c_str(),
                      args.empty() ? nullptr : args.c_str(), nullptr, SW_SHOWNORMAL));
    return r > 32;
  }
};

}  // namespace

DocumentOpener& systemDocumentOpener() {
  static ShellDocumentOpener opener;
  return opener;
}

}  // namespace brisquell
