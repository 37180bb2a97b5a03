// Shell-link writer: header, LinkInfo (volume id + local base path), string data, extra blocks.
#include "LnkWriter.h"

#include <cstring>

namespace brisquell {

namespace {

void put16(Bytes& b, std::uint16_t v) {
  b.push_back(v & 0xFF);
  b.push_back(v >> 8);
}
void put32(Bytes& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back((v >> (8 * i)) & 0xFF);
}
void set32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = (v >> (8 * i)) & 0xFF;
}

}  // namespace

Bytes makeShortcut(const LnkSpec& s) {
  const bool hasLinkInfo = !s.localBasePath.empty();
  const bool hasRelative = !s.relativePath.empty();
  const bool hasEnv = !s.environmentPath.empty();
  std::uint32_t flags = 0x80;  // IsUnicode
  if (hasLinkInfo) flags |= 0x02;
  if (hasRelative) flags |= 0x08;
  if (hasEnv) flags |= 0x200;
  Bytes b;
  put32(b, 0x4C);
  static const std::uint8_t clsid[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                         0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
  for (std::uint8_t c : clsid) b.push_back(c);
  put32(b, flags);
  put32(b, s.directory ? 0x10 : 0x20);      // file attributes
  for (int i = 0; i < 6; ++i) put32(b, 0);  // creation, access, write times
  put32(b, 0);                              // file size
  put32(b, 0);                              // icon index
  put32(b, 1);                              // show command: normal
  put16(b, 0);                              // hot key
  put16(b, 0);
  put32(b, 0);
  put32(b, 0);
  if (hasLinkInfo) {
    std::size_t start = b.size();
    put32(b, 0);     // size, set below
    put32(b, 0x1C);  // header size
    put32(b, 1);     // VolumeIDAndLocalBasePath
    put32(b, 0x1C);  // volume id offset
    put32(b, 0);     // local base path offset
    put32(b, 0);     // common network relative link offset
    put32(b, 0);     // common path suffix offset
    // VolumeID: size, drive type (fixed), serial, label offset, empty label.
    put32(b, 0x11);
    put32(b, 3);
    put32(b, 0x12345678);
    put32(b, 0x10);
    b.push_back(0);
    set32(b, start + 16, static_cast<std::uint32_t>(b.size() - start));
    b.insert(b.end(), s.localBasePath.begin(), s.localBasePath.end());
    b.push_back(0);
    set32(b, start + 24, static_cast<std::uint32_t>(b.size() - start));
    b.insert(b.end(), s.commonPathSuffix.begin(), s.commonPathSuffix.end());
    b.push_back(0);
    set32(b, start, static_cast<std::uint32_t>(b.size() - start));
  }
  if (hasRelative) {
    Bytes u = toUtf16le(s.relativePath);
    put16(b, static_cast<std::uint16_t>(u.size() / 2));
    for (std::uint8_t c : u) b.push_back(c);
  }
  if (hasEnv) {
    put32(b, 0x314);
    put32(b, 0xA0000001);
    Bytes ansi(260, 0), wide(520, 0);
    std::memcpy(ansi.data(), s.environmentPath.data(),
                std::min<std::size_t>(259, s.environmentPath.size()));
    Bytes u = toUtf16le(s.environmentPath);
    std::memcpy(wide.data(), u.data(), std::min<std::size_t>(518, u.size()));
    for (std::uint8_t c : ansi) b.push_back(c);
    for (std::uint8_t c : wide) b.push_back(c);
  }
  put32(b, 0);  // terminal block
  return b;
}

}  // namespace brisquell
