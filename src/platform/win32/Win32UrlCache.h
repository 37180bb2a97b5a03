// The user's browser cache on the running system, through WinInet.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/UrlCache.h"

namespace brisquell {

class Win32UrlCache final : public UrlCache {
 public:
  Status findFirstEntry(Bytes* buffer, std::uint32_t& size, Handle& handle) override;
  Status findNextEntry(Handle handle, Bytes* buffer, std::uint32_t& size) override;
  Status deleteEntry(std::string_view url) override;
  Status findClose(Handle handle) override;
  std::string errorText() const override { return error_; }
  std::string location() const override { return "the WinInet URL cache of this user"; }

 private:
  struct Enumeration {
    std::vector<Bytes> records;  // read whole when it starts: deletions do not disturb it
    std::size_t next = 0;
  };
  Status hand(Enumeration& e, Bytes* buffer, std::uint32_t& size);
  Status readAll(std::vector<Bytes>& out);

  std::map<Handle, Enumeration> open_;
  Enumeration pendingFirst_;
  bool havePendingFirst_ = false;
  Handle next_ = 1;
  std::string error_;
};

}  // namespace brisquell
