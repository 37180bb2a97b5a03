// UTF-8 <-> UTF-16 at the boundary to the Windows API, and host paths in the form every wide
// call accepts.
#pragma once

#include <string>
#include <string_view>

namespace brisquell::win32 {

std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view utf16);
/// A host path for the wide calls: '/' made '\', and an absolute path longer than MAX_PATH
/// given the "\\?\" form (normalised first, since that form takes every name literally).
std::wstring hostPath(std::string_view utf8);
/// The message of a Win32 error code.
std::string errorText(unsigned long code);

}  // namespace brisquell::win32
