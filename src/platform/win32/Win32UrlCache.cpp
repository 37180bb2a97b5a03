// WinInet's cache entries as the records the cache clearing reads.
#include "platform/win32/Win32UrlCache.h"

#include <windows.h>

#include <wininet.h>

#include <set>

#include "platform/win32/Wide.h"

namespace brisquell {

namespace {

// One pattern's entries; false when the cache cannot be read.
bool enumerate(const wchar_t* pattern, std::vector<std::pair<std::string, std::string>>& out,
               std::string& error) {
  std::vector<unsigned char> buf(4096);
  DWORD size = static_cast<DWORD>(buf.size());
  auto* info = reinterpret_cast<INTERNET_CACHE_ENTRY_INFOW*>(buf.data());
  HANDLE h = FindFirstUrlCacheEntryW(pattern, info, &size);
  if (!h && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
    buf.resize(size);
    info = reinterpret_cast<INTERNET_CACHE_ENTRY_INFOW*>(buf.data());
    h = FindFirstUrlCacheEntryW(pattern, info, &size);
  }
  if (!h) {
    DWORD e = GetLastError();
    if (e == ERROR_NO_MORE_ITEMS) return true;
    error = "the URL cache cannot be read: " + win32::errorText(e);
    return false;
  }
  for (;;) {
    out.emplace_back(info->lpszSourceUrlName ? win32::narrow(info->lpszSourceUrlName) : "",
                     info->lpszLocalFileName ? win32::narrow(info->lpszLocalFileName) : "");
    size = static_cast<DWORD>(buf.size());
    if (FindNextUrlCacheEntryW(h, info, &size)) continue;
    DWORD e = GetLastError();
    if (e == ERROR_INSUFFICIENT_BUFFER) {
      buf.resize(size);
      info = reinterpret_cast<INTERNET_CACHE_ENTRY_INFOW*>(buf.data());
      if (FindNextUrlCacheEntryW(h, info, &size)) continue;
      e = GetLastError();
    }
    FindCloseUrlCache(h);
    if (e == ERROR_NO_MORE_ITEMS) return true;
    error = "the URL cache cannot be read: " + win32::errorText(e);
    return false;
  }
}

}  // namespace

Status Win32UrlCache::readAll(std::vector<Bytes>& out) {
  std::vector<std::pair<std::string, std::string>> entries;
  // Every entry; cookies answer only to their own pattern (Wine knows it as "Cookie:" only).
  if (!enumerate(nullptr, entries, error_) || !enumerate(L"Cookie:", entries, error_))
    return Status::ReadFault;
  std::set<std::string> seen;
  for (const auto& [url, file] : entries)
    if (!url.empty() && seen.insert(url).second) out.push_back(makeUrlCacheRecord(url, file));
  return Status::Success;
}

Status Win32UrlCache::hand(Enumeration& e, Bytes* buffer, std::uint32_t& size) {
  if (e.next >= e.records.size()) return Status::NoMoreItems;
  const Bytes& r = e.records[e.next];
  const auto need = static_cast<std::uint32_t>(r.size());
  if (!buffer || size < need || buffer->size() < need) {
    size = need;
    return Status::InsufficientBuffer;
  }
  std::copy(r.begin(), r.end(), buffer->begin());
  size = need;
  ++e.next;
  return Status::Success;
}

Status Win32UrlCache::findFirstEntry(Bytes* buffer, std::uint32_t& size, Handle& handle) {
  handle = 0;
  if (!havePendingFirst_) {
    pendingFirst_ = {};
    if (Status st = readAll(pendingFirst_.records); st != Status::Success) return st;
    havePendingFirst_ = true;
  }
  if (pendingFirst_.records.empty()) {
    havePendingFirst_ = false;
    return Status::NoMoreItems;
  }
  if (Status st = hand(pendingFirst_, buffer, size); st != Status::Success) return st;
  handle = next_++;
  open_[handle] = std::move(pendingFirst_);
  havePendingFirst_ = false;
  return Status::Success;
}

Status Win32UrlCache::findNextEntry(Handle handle, Bytes* buffer, std::uint32_t& size) {
  auto it = open_.find(handle);
  if (it == open_.end()) return Status::InvalidHandle;
  return hand(it->second, buffer, size);
}

Status Win32UrlCache::deleteEntry(std::string_view url) {
  if (DeleteUrlCacheEntryW(win32::widen(url).c_str())) return Status::Success;
  DWORD e = GetLastError();
  error_ = std::string(url) + ": " + win32::errorText(e);
  return static_cast<Status>(e);
}

Status Win32UrlCache::findClose(Handle handle) {
  return open_.erase(handle) ? Status::Success : Status::InvalidHandle;
}

}  // namespace brisquell
