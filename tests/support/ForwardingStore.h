// A registry store that hands every call to another one: test doubles derive from it and
// change only the calls they are about.
#pragma once

#include "platform/RegistryStore.h"

namespace brisquell::test {

class ForwardingStore : public RegistryStore {
 public:
  explicit ForwardingStore(RegistryStore& inner) : s_(inner) {}
  Status openKey(KeyHandle k, std::string_view p, std::uint32_t a, KeyHandle& r) override {
    return s_.openKey(k, p, a, r);
  }
  Status createKey(KeyHandle k, std::string_view p, KeyHandle& r) override {
    return s_.createKey(k, p, r);
  }
  Status closeKey(KeyHandle k) override { return s_.closeKey(k); }
  Status enumKey(KeyHandle k, std::uint32_t i, std::string& n) override {
    return s_.enumKey(k, i, n);
  }
  Status deleteValue(KeyHandle k, std::string_view n) override { return s_.deleteValue(k, n); }
  Status deleteKey(KeyHandle k, std::string_view p) override { return s_.deleteKey(k, p); }
  Status deleteTree(KeyHandle k, std::string_view p) override { return s_.deleteTree(k, p); }
  Status enumValueRaw(KeyHandle k, std::uint32_t i, std::string& n, std::uint32_t& t,
                      Bytes& d) override {
    return s_.enumValueRaw(k, i, n, t, d);
  }
  Status queryValueRaw(KeyHandle k, std::string_view n, std::uint32_t& t, Bytes& d) override {
    return s_.queryValueRaw(k, n, t, d);
  }
  Status setValueRaw(KeyHandle k, std::string_view n, std::uint32_t t, const Bytes& d) override {
    return s_.setValueRaw(k, n, t, d);
  }
  Status queryInfo(KeyHandle k, std::uint32_t& keys, std::uint32_t& values) override {
    return s_.queryInfo(k, keys, values);
  }
  KeyLocation canonicalKey(KeyHandle k, std::string_view p) override {
    return s_.canonicalKey(k, p);
  }
  bool modified() const override { return s_.modified(); }
  void markSaved() override { s_.markSaved(); }

 protected:
  RegistryStore& s_;
};

}  // namespace brisquell::test
