// Listing of log-on programs and the moves between the run key and the disabled-startup store.
#include "optimize/StartupPrograms.h"

#include <fmt/format.h>

#include <cmath>
#include <cstdlib>

namespace brisquell {

namespace {

constexpr std::string_view kLoadName = "Form_Load  of frmBootingSpeed";
constexpr std::string_view kWalkName = "RegWindowsStartup of  frmBootingSpeed";
constexpr std::string_view kValuesName = "RegWindowsStartupKeyValues of frmBootingSpeed";
constexpr std::string_view kCreateName = "RegCreateKeyValue of frmBootingSpeed";
constexpr std::string_view kDoneName = "cmdDone_Click of frmBootingSpeed";

std::string where(KeyHandle root, std::string_view keyPath) {
  return fmt::format("{}\\{}", rootName(root), keyPath);
}

bool readRaw(RegistryStore& store, KeyHandle root, std::string_view keyPath, std::string_view name,
             std::uint32_t& type, Bytes& data) {
  KeyHandle h = 0;
  if (store.openKey(root, keyPath, keyaccess::AllAccess, h) != Status::Success) return false;
  ScopedKey key(store, h);
  return store.queryValueRaw(h, name, type, data) == Status::Success;
}

// True when RegCreateKeyValue would store exactly this value: a NUL-terminated string that
// trimming leaves alone and that is not numeric text.
bool survivesTextWrite(std::uint32_t type, const Bytes& raw, std::string& text) {
  if (type != regtype::Sz) return false;
  Bytes t = rawToText(regtype::Sz, raw);
  if (t.empty() || t.back() != 0) return false;
  text.assign(t.begin(), t.end() - 1);
  if (text.find('\0') != std::string::npos || trimBlanks(text) != text || isNumericText(text))
    return false;
  Bytes again(text.begin(), text.end());
  again.push_back(0);
  return textToRaw(regtype::Sz, again) == raw;
}

}  // namespace

void StartupPrograms::Form_Load() {
  ctx_.log().trap(kLoadName, [&] {
    firstListing_ = false;
    rows_.clear();
    listingRunSide_ = true;
    RegWindowsStartup(hkey::LocalMachine, kRunKey);
    for (StartupRow& r : rows_) r.checked = true;
    listingRunSide_ = false;
    RegWindowsStartup(hkey::CurrentUser, kStoreParent);
  });
  listingRunSide_ = false;
}

void StartupPrograms::RegWindowsStartupKeyValues(KeyHandle root, std::string_view keyPath) {
  ctx_.log().trap(kValuesName, [&] {
    RegistryStore& store = ctx_.registry().store();
    KeyHandle h = 0;
    if (store.openKey(root, keyPath, keyaccess::AllAccess, h) != Status::Success) return;
    ScopedKey key(store, h);
    std::string name;
    std::uint32_t type = 0;
    Bytes data;
    // Names and data are read whole: a long value neither ends the listing nor is cut.
    for (std::uint32_t i = 0; store.enumValue(h, i, name, type, data) == Status::Success; ++i) {
      std::string command = ctx_.registry().GetSubKeyValue(h, name);
      std::string shortened = RemoveBackSlashandComma(command);
      if (shortened.find(":\\") != std::string::npos) {
        StartupRow row;
        row.text = shortened;
        row.tag = name;
        row.command = command;
        row.root = root;
        row.keyPath = keyPath;
        row.runs = listingRunSide_;
        rows_.push_back(std::move(row));
      }
      ctx_.doEvents();
    }
  });
}

void StartupPrograms::RegWindowsStartup(KeyHandle root, std::string_view keyPath) {
  ctx_.log().trap(kWalkName, [&] {
    RegistryStore& store = ctx_.registry().store();
    KeyHandle h = 0;
    if (store.openKey(root, keyPath, keyaccess::AllAccess, h) != Status::Success) return;
    ScopedKey key(store, h);
    if (!firstListing_) {
      RegWindowsStartupKeyValues(root, keyPath);
      firstListing_ = true;
    }
    std::string sub;
    for (std::uint32_t i = 0; store.enumKey(h, i, sub) == Status::Success; ++i) {
      std::string path = std::string(keyPath) + "\\" + sub;
      RegWindowsStartupKeyValues(root, path);
      RegWindowsStartup(root, path);
      ctx_.doEvents();
      if (ctx_.bCancelScan) break;
    }
  });
}

bool StartupPrograms::RegCreateKeyValue(KeyHandle root, std::string_view keyPath,
                                        std::string_view name, std::string_view value) {
  bool ok = false;
  ctx_.log().trap(kCreateName, [&] {
    RegistryStore& store = ctx_.registry().store();
    KeyHandle h = 0;
    if (store.createKey(root, keyPath, h) != Status::Success) return;
    ScopedKey key(store, h);
    Status st;
    if (isNumericText(value)) {
      double d = std::strtod(trimBlanks(value).c_str(), nullptr);
      if (d < -2147483648.0 || d > 2147483647.0) throw TrappedError{6, "Overflow"};
      auto v = static_cast<std::uint32_t>(static_cast<std::int32_t>(std::nearbyint(d)));
      st = store.setValue(h, name, regtype::Dword, dwordBytes(v));
    } else {
      std::string text = trimBlanks(value);
      Bytes data(text.begin(), text.end());
      data.push_back(0);
      st = store.setValue(h, name, regtype::Sz, data);
    }
    ok = st == Status::Success;
  });
  return ok;
}

bool StartupPrograms::moveEntry(StartupRow& row, KeyHandle toRoot, std::string_view toKey,
                                std::string& why) {
  RegistryStore& store = ctx_.registry().store();
  const std::string from = where(row.root, row.keyPath);
  const std::string to = where(toRoot, toKey);
  std::uint32_t type = 0;
  Bytes raw;
  if (!readRaw(store, row.root, row.keyPath, row.tag, type, raw)) {
    why = fmt::format("it is no longer in {}", from);
    return false;
  }
  std::uint32_t oldType = 0;
  Bytes old;
  const bool present = readRaw(store, toRoot, toKey, row.tag, oldType, old);
  if (present && (oldType != type || old != raw)) {
    why = fmt::format("{} already holds a different entry of that name", to);
    return false;
  }
  if (!present) {
    // The entry moves as stored; RegCreateKeyValue serves where its text rules keep it intact.
    std::string text;
    bool written = false;
    if (toRoot == hkey::LocalMachine && toKey == kRunKey && survivesTextWrite(type, raw, text)) {
      written = RegCreateKeyValue(toRoot, toKey, row.tag, text);
    } else {
      KeyHandle h = 0;
      if (store.createKey(toRoot, toKey, h) == Status::Success) {
        ScopedKey key(store, h);
        written = store.setValueRaw(h, row.tag, type, raw) == Status::Success;
      }
    }
    if (!written) {
      why = fmt::format("it could not be written to {}", to);
      return false;
    }
  }
  KeyHandle h = 0;
  Status st = store.openKey(row.root, row.keyPath, keyaccess::AllAccess, h);
  if (st == Status::Success) {
    ScopedKey key(store, h);
    st = store.deleteValue(h, row.tag);
  }
  if (st != Status::Success && st != Status::FileNotFound) {  // not found: already gone
    why = fmt::format("it is now in {} and could not be removed from {}", to, from);
    return false;
  }
  row.root = toRoot;
  row.keyPath = toKey;
  return true;
}

StartupDoneResult StartupPrograms::cmdDone_Click() {
  StartupDoneResult result;
  ctx_.log().trap(kDoneName, [&] {
    // Rows carry their own place, so no row can be matched to another entry's text and no
    // pass over the store can miss a value.
    // Unticked rows leave the run key first, then ticked ones come back to it.
    auto switchRows = [&](bool on) {
      for (StartupRow& row : rows_) {
        if (row.checked != on || row.runs == on) continue;
        std::string why;
        const KeyHandle toRoot = on ? hkey::LocalMachine : hkey::CurrentUser;
        // Only the run key's own values are switched off, and only the store's own values come
        // back: a value of some other key below them was never started by Windows, and moving
        // it into the run key would start it at the next log-on.
        const KeyHandle fromRoot = on ? hkey::CurrentUser : hkey::LocalMachine;
        const std::string_view fromKey = on ? kStoreKey : kRunKey;
        if (row.root != fromRoot || !iequals(row.keyPath, fromKey)) {
          result.failures.push_back(fmt::format(
              "{} stays where it is: {} is not {}", row.tag, where(row.root, row.keyPath),
              on ? "the store of switched-off programs" : "the run key"));
        } else if (moveEntry(row, toRoot, on ? kRunKey : kStoreKey, why)) {
          row.runs = on;
          ++(on ? result.switchedOn : result.switchedOff);
        } else {
          result.failures.push_back(
              fmt::format("{} stays switched {}: {}", row.tag, on ? "off" : "on", why));
        }
        ctx_.doEvents();
      }
    };
    switchRows(false);
    switchRows(true);
  });
  return result;
}

}  // namespace brisquell
