// Registry walks. Names and data are read whole, so a long value is examined like any other
// and a key that holds values is never taken for an empty one.
#include "scan/Walkers.h"

#include <algorithm>

#include "scan/Checks.h"

namespace brisquell {

std::string valueTextOf(std::uint32_t type, const Bytes& data) {
  switch (type) {
    case regtype::Sz:
    case regtype::MultiSz: return std::string(data.begin(), std::find(data.begin(), data.end(), 0));
    case regtype::Dword: {
      if (data.size() < 4) return {};
      return std::to_string(static_cast<std::int32_t>(dwordOf(data)));
    }
    default: return {};
  }
}

void EnumerateRegKeys(ScanContext& ctx, KeyHandle root, const std::string& keyPath,
                      std::string_view section, std::string_view rootName) {
  RegistryStore& store = ctx.registry().store();
  KeyHandle h = 0;
  if (store.openKey(root, keyPath, keyaccess::EnumerateSubKeys, h) != Status::Success) return;
  ScopedKey key(store, h);
  std::string name;
  for (std::uint32_t i = 0; store.enumKey(h, i, name) == Status::Success; ++i) {
    std::string subPath = keyPath.empty() ? name : keyPath + "\\" + name;
    ctx.observer().keyLabel(name);
    EnumerateRegKeyValues(ctx, root, subPath, section, rootName);
    EnumerateRegKeys(ctx, root, subPath, section, rootName);
    if (ctx.bCancelScan) return;
    ctx.doEvents();
  }
}

void EnumerateRegKeyValues(ScanContext& ctx, KeyHandle root, const std::string& keyPath,
                           std::string_view section, std::string_view rootName) {
  RegistryStore& store = ctx.registry().store();
  KeyHandle h = 0;
  if (store.openKey(root, keyPath, keyaccess::AllAccess, h) != Status::Success) return;
  ScopedKey key(store, h);
  const bool examined = section != "Registry Integrity" && section != "File Extensions";
  const std::int32_t rootKey = signedHandle(root);
  std::string name;
  std::uint32_t type = 0;
  Bytes data;
  for (std::uint32_t i = 0;; ++i) {
    if (ctx.bCancelScan) return;
    bool ok = store.enumValue(h, i, name, type, data) == Status::Success;
    if (!ok && i == 0) {
      // An empty help folder key or open-with list is itself the problem.
      if ((icontains(keyPath, "TypeLib\\") && icontains(keyPath, "\\HELPDIR")) ||
          (icontains(keyPath,
                     "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\") &&
           icontains(keyPath, "\\OpenWithList")))
        CheckPathExistinDirectory(ctx, "", section, "", rootKey, rootName, keyPath);
    }
    if (ok) {
      std::string text = valueTextOf(type, data);
      ctx.observer().valueLabel(text);
      if (ctx.bCancelScan) return;
      if (examined) CheckPathExistinDirectory(ctx, text, section, name, rootKey, rootName, keyPath);
    }
    if (ctx.bCancelScan) return;
    ctx.doEvents();
    if (!ok) return;
  }
}

void EnumerateRegKeyNames(ScanContext& ctx, KeyHandle root, const std::string& keyPath) {
  RegistryStore& store = ctx.registry().store();
  KeyHandle h = 0;
  if (store.openKey(root, keyPath, keyaccess::AllAccess, h) != Status::Success) return;
  ScopedKey key(store, h);
  std::string name;
  for (std::uint32_t i = 0; store.enumKey(h, i, name) == Status::Success; ++i) {
    ctx.observer().keyLabel(name);
    ctx.doEvents();
    if (ctx.bCancelScan) return;
  }
}

}  // namespace brisquell
