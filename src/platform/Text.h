// Text helpers shared by every layer: UTF-8 <-> UTF-16LE, Windows-style case folding, wildcards,
// trimming and the date text.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Bytes.h"

namespace brisquell {

/// Decodes the UTF-8 sequence at s[i] into cp and moves i past it; false (i unchanged) when the
/// bytes there are not well-formed UTF-8 (overlong forms, surrogates and cut sequences included).
bool decodeUtf8(std::string_view s, std::size_t& i, char32_t& cp);
/// Appends the UTF-8 form of a code point.
void appendUtf8(char32_t cp, std::string& out);
/// True when the whole text is well-formed UTF-8.
bool isValidUtf8(std::string_view s);

/// The code point that Windows-1252 gives a byte; its five unassigned bytes (81 8D 8F 90 9D)
/// map to the C1 controls of the same number, as Windows maps them.
char32_t windows1252CodePoint(unsigned char byte);
/// The Windows-1252 byte of a code point; -1 when the code page has none.
int windows1252Byte(char32_t cp);
/// Windows-1252 text as UTF-8.
std::string windows1252ToUtf8(std::string_view s);

/// Appends the UTF-16LE bytes of a UTF-8 text; ill-formed input becomes U+FFFD.
void appendUtf16le(std::string_view utf8, Bytes& out);
Bytes toUtf16le(std::string_view utf8);

/// UTF-16LE bytes to UTF-8; an odd last byte is dropped, unpaired surrogates become U+FFFD.
std::string fromUtf16le(const std::uint8_t* data, std::size_t size);
inline std::string fromUtf16le(const Bytes& b) { return fromUtf16le(b.data(), b.size()); }

/// True when the bytes are UTF-16LE that converts to UTF-8 and back unchanged.
bool isLosslessUtf16le(const std::uint8_t* data, std::size_t size);

/// Folds one code point the way Windows compares names (simple upper-case mapping, as lower case
/// here).
char32_t foldCodePoint(char32_t c);

/// Case-folded copy of a UTF-8 text (ASCII fast path).
std::string foldCase(std::string_view s);
/// Case-insensitive hash, equal for names that iequals() calls equal.
std::uint64_t foldedHash(std::string_view s);
bool iequals(std::string_view a, std::string_view b);
/// Position of needle in hay ignoring case (ASCII letters), or npos.
std::size_t ifind(std::string_view hay, std::string_view needle, std::size_t from = 0);
inline bool icontains(std::string_view hay, std::string_view needle) {
  return ifind(hay, needle) != std::string_view::npos;
}

/// Windows-style wildcard match ('*' any run, '?' one character), ignoring case.
bool wildcardMatch(std::string_view pattern, std::string_view name);

/// s without any of `chars` at either end (trimmedRightView: at its end only).
std::string_view trimmedView(std::string_view s, std::string_view chars);
std::string_view trimmedRightView(std::string_view s, std::string_view chars);
inline std::string trimmed(std::string_view s, std::string_view chars) {
  return std::string(trimmedView(s, chars));
}
/// Spaces only, as the stored switches and the checks have always been trimmed.
inline std::string trimBlanks(std::string_view s) { return trimmed(s, " "); }

/// Month/day/year and a 12-hour time of local time, as "General Date" shows it:
/// "12/8/2004 5:45:02 PM".
std::string generalDateText(std::time_t t);

}  // namespace brisquell
