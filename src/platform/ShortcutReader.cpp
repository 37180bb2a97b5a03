// Path helpers shared by the shortcut readers: the machine's environment and relative paths.
#include "platform/ShortcutReader.h"

#include "platform/Target.h"
#include "platform/Text.h"

namespace brisquell {

Environment machineEnvironment(const MachineInfo& m) {
  std::string windows = m.windowsDirectory;
  while (windows.size() > 3 && windows.back() == '\\') windows.pop_back();
  const std::string drive = windows.size() >= 2 && windows[1] == ':' ? windows.substr(0, 2) : "C:";
  const std::string programFiles = drive + "\\Program Files";
  // NT keeps profiles in "Documents and Settings"; older Windows has none per user.
  const std::string profiles = drive + "\\Documents and Settings";
  const std::string profile = m.platformId == 2 ? profiles + "\\" + m.userName : windows;
  return {
      {"SystemRoot", windows},
      {"windir", windows},
      {"SystemDrive", drive},
      {"ProgramFiles", programFiles},
      {"CommonProgramFiles", programFiles + "\\Common Files"},
      {"TEMP", m.tempFolder},
      {"TMP", m.tempFolder},
      {"USERNAME", m.userName},
      {"USERPROFILE", profile},
      {"ALLUSERSPROFILE", profiles + "\\All Users"},
      {"APPDATA", profile + "\\Application Data"},
  };
}

std::string expandEnvironmentStrings(std::string_view text, const Environment& env) {
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t a = text.find('%', i);
    if (a == std::string_view::npos) break;
    std::size_t b = text.find('%', a + 1);
    if (b == std::string_view::npos) break;
    std::string_view name = text.substr(a + 1, b - a - 1);
    const std::string* value = nullptr;
    for (const auto& [k, v] : env)
      if (iequals(k, name)) value = &v;
    out.append(text.substr(i, a - i));
    if (value) {
      out += *value;
      i = b + 1;
    } else {
      out += '%';  // the closing '%' may open a known name
      i = a + 1;
    }
  }
  out.append(text.substr(i));
  return out;
}

std::string resolveRelativePath(std::string_view folder, std::string_view relative) {
  std::string joined(folder);
  if (!joined.empty() && joined.back() != '\\') joined += '\\';
  joined += relative;
  for (char& c : joined)
    if (c == '/') c = '\\';
  // Keep the root ("C:\" or "\\server\share\") and fold the components after it.
  std::size_t rootEnd = 0;
  if (joined.size() >= 3 && joined[1] == ':' && joined[2] == '\\') {
    rootEnd = 3;
  } else if (joined.rfind("\\\\", 0) == 0) {
    std::size_t server = joined.find('\\', 2);
    std::size_t share = server == std::string::npos ? server : joined.find('\\', server + 1);
    rootEnd = share == std::string::npos ? joined.size() : share + 1;
  }
  std::vector<std::string> parts;
  std::size_t i = rootEnd;
  while (i < joined.size()) {
    std::size_t j = joined.find('\\', i);
    if (j == std::string::npos) j = joined.size();
    std::string c = joined.substr(i, j - i);
    i = j + 1;
    if (c.empty() || c == ".") continue;
    if (c == "..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(std::move(c));
  }
  std::string out = joined.substr(0, rootEnd);
  for (std::size_t k = 0; k < parts.size(); ++k) {
    if (k) out += '\\';
    out += parts[k];
  }
  return out;
}

}  // namespace brisquell
