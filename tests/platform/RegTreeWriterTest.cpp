// The tree writer gives the very bytes of the store-by-store writer, whatever the threads, the
// chunk size and the cut of the tree; a failed write or an unwritable key stops it the same way.
#include "platform/RegTreeWriter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <random>

#include "platform/RegFile.h"
#include "platform/machine/MachineFolder.h"
#include "support/ForwardingStore.h"
#include "support/TempDir.h"

namespace brisquell {
namespace {

// The same store seen through the generic interface only: writeReg takes its key-by-key path.
class Forwarding final : public test::ForwardingStore {
 public:
  explicit Forwarding(MemoryRegistry& s) : ForwardingStore(s) {}
};

Bytes u16(std::u16string_view s) {
  Bytes b;
  for (char16_t c : s) {
    b.push_back(static_cast<std::uint8_t>(c & 0xFF));
    b.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  return b;
}

// Names and data that take every branch: escapes, non-ASCII and ill-formed UTF-8, strings that
// print and strings that must go as hex, DWORDs of odd sizes, lines that wrap at any column.
void fill(MemoryRegistry& store, unsigned seed, int keys) {
  std::mt19937 rng(seed);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  const std::string names[] = {"",
                               "a",
                               "Name",
                               "with \"quote\"",
                               "back\\slash",
                               "caf\xC3\xA9",
                               "\xE2\x82\xAC sign",
                               "emoji \xF0\x9F\x98\x80",
                               "bad \xFF\xFE utf8",
                               "line\r\nbreak",
                               std::string(70, 'n'),
                               "a longer name, then \"quotes\" and back\\slashes",
                               "eight ch\xC3\xA9 then more plain text",
                               "(Default)"};
  const std::u16string strings[] = {u"plain",
                                    u"say \"hi\"\\now",
                                    u"\u00e9t\u00e9",
                                    u"\U0001F600 ok",
                                    std::u16string(200, u'x'),
                                    u"",
                                    u"a longer text, then \"quotes\" and \\ marks",
                                    u"plain for a while \U0001F600 then a pair",
                                    u"plain for a while\rthen a CR"};
  std::vector<std::string> paths = {"SOFTWARE", "SYSTEM", "SOFTWARE\\Classes"};
  for (int k = 0; k < keys; ++k) {
    std::string path = paths[static_cast<std::size_t>(pick(static_cast<int>(paths.size())))] +
                       "\\" + (pick(4) ? "K" : "k\xC3\xBC") + std::to_string(k);
    paths.push_back(path);
    KeyHandle root = pick(5) ? hkey::LocalMachine : hkey::CurrentUser;
    KeyHandle h = 0;
    ASSERT_EQ(store.createKey(root, path, h), Status::Success);
    for (int v = pick(6); v > 0; --v) {
      std::string name = names[pick(14)] + std::to_string(pick(3));
      if (pick(8) == 0) name = names[pick(14)];
      Bytes data;
      std::uint32_t type = regtype::Sz;
      switch (pick(9)) {
        case 0: data = u16(strings[pick(9)] + u'\0'); break;
        case 1: data = u16(strings[pick(9)]); break;                  // no terminator
        case 2: data = u16(std::u16string(u"in\0side\0", 8)); break;  // a NUL inside
        case 3: data = u16(std::u16string(u"lone ") + char16_t(0xD800) + u" x" + u'\0'); break;
        case 4: data = u16(u"cr\rlf\n\0"); break;
        case 5:
          type = regtype::Dword;
          data.assign(static_cast<std::size_t>(pick(3) + 3), 0xA5);  // 3, 4 or 5 bytes
          break;
        case 6:
          type = regtype::Binary;
          data.resize(static_cast<std::size_t>(pick(300)));
          for (auto& b : data) b = static_cast<std::uint8_t>(rng());
          break;
        case 7:
          type = pick(2) ? regtype::ExpandSz : 0xFFFF0012u;
          data = u16(strings[pick(9)] + u'\0');
          break;
        default: type = regtype::MultiSz; data = u16(std::u16string(u"one\0two\0\0", 9));
      }
      ASSERT_EQ(store.setValueRaw(h, name, type, data), Status::Success);
    }
    store.closeKey(h);
  }
}

std::string viaInterface(MemoryRegistry& store, KeyHandle root = 0, std::string_view path = "") {
  Forwarding generic(store);
  return exportReg(generic, root, path);
}

std::vector<RegTreeTop> allTops(MemoryRegistry& store) {
  std::vector<RegTreeTop> tops;
  for (KeyHandle r : {hkey::LocalMachine, hkey::CurrentUser, hkey::Users, hkey::CurrentConfig}) {
    const MemoryRegistry::Key* k = store.root(r);
    if (!k->children.empty() || !k->values.empty())
      tops.push_back(RegTreeTop{k, std::string(rootName(r))});
  }
  return tops;
}

Outcome treeToString(const std::vector<RegTreeTop>& tops, const RegTreeOptions& o,
                     std::string& all) {
  all.clear();
  return writeRegTree(
      tops,
      [&](const char* d, std::size_t n) {
        all.append(d, n);
        return true;
      },
      o);
}

TEST(RegTreeWriter, SameBytesAsTheKeyByKeyWriterWhateverTheThreadsAndCuts) {
  for (int keys : {0, 1, 3, 600}) {
    MemoryRegistry store;
    fill(store, static_cast<unsigned>(keys) + 7, keys);
    const std::string expected = viaInterface(store);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(exportReg(store, 0, ""), expected) << keys << " keys, through writeReg";
    for (int threads : {0, 1, 2, 4})
      for (std::size_t chunk : {std::size_t(1), std::size_t(64), std::size_t(1) << 20})
        for (std::size_t weight : {std::size_t(1), std::size_t(5), std::size_t(1) << 14}) {
          std::string got;
          ASSERT_TRUE(treeToString(allTops(store), {threads, chunk, weight}, got));
          ASSERT_EQ(got, expected) << keys << " keys, " << threads << " threads, chunks of "
                                   << chunk << ", parts of " << weight;
        }
    // A subtree, and the view of the classes under another root's name.
    EXPECT_EQ(exportReg(store, hkey::LocalMachine, "software"),
              viaInterface(store, hkey::LocalMachine, "software"));
    EXPECT_EQ(exportReg(store, hkey::ClassesRoot, ""), viaInterface(store, hkey::ClassesRoot, ""));
  }
  {  // a tree of many parts and chunks with the sizes the product uses
    MemoryRegistry large;
    fill(large, 5, 30000);
    const std::string expected = viaInterface(large);
    ASSERT_GT(expected.size(), std::size_t(4) << 20);
    for (int threads : {0, 1, 3}) {
      std::string got;
      ASSERT_TRUE(treeToString(allTops(large), {threads, std::size_t(1) << 20, 4096}, got));
      EXPECT_TRUE(got == expected) << threads << " threads";
    }
  }
  MemoryRegistry empty;
  EXPECT_EQ(exportReg(empty, 0, ""), viaInterface(empty));
  EXPECT_EQ(exportReg(empty, 0, "").size(), 2 + 2 * std::string_view("Windows Registry Editor "
                                                                     "Version 5.00\r\n\r\n")
                                                        .size());
}

TEST(RegTreeWriter, AFailedWriteOrAnUnwritableKeyStopsTheWriteOnEveryThread) {
  MemoryRegistry store;
  fill(store, 3, 400);
  for (int threads : {0, 1, 2, 4}) {
    // The output refuses its fifth chunk: the write stops there, nothing more is offered.
    std::atomic<int> calls{0};
    Outcome r = writeRegTree(allTops(store), [&](const char*, std::size_t) { return ++calls < 5; },
                             {threads, 64, 5});
    EXPECT_FALSE(r);
    EXPECT_EQ(r.status(), Status::WriteFault);
    EXPECT_EQ(calls, 5) << threads;
  }
  // A key whose name holds a line break, deep in the tree: the same message either way.
  KeyHandle h = 0;
  ASSERT_EQ(store.createKey(hkey::CurrentUser, "Z\\deep\\bro\nken\\below", h), Status::Success);
  store.closeKey(h);
  Forwarding generic(store);
  Outcome expected =
      writeReg(generic, 0, "", RegFormat::Version5, [](const char*, std::size_t) { return true; });
  ASSERT_EQ(expected.status(), Status::InvalidName);
  EXPECT_NE(expected.message().find("Z\\deep\\bro<LF>ken"), std::string::npos)
      << expected.message();
  for (int threads : {0, 1, 2, 4}) {
    std::string got;
    Outcome r = treeToString(allTops(store), {threads, 64, 3}, got);
    EXPECT_EQ(r.status(), Status::InvalidName);
    EXPECT_EQ(r.message(), expected.message());
  }
}

TEST(RegTreeWriter, AFailedSaveLeavesThePreviousFileWhole) {
  test::TempDir dir;
  const std::string path = dir / "registry.reg";
  MemoryRegistry store;
  fill(store, 11, 3000);
  ASSERT_TRUE(saveRegistryFile(store, path));
  const std::string before = test::readText(path);
  EXPECT_EQ(before, exportReg(store, 0, ""));
  KeyHandle h = 0;
  ASSERT_EQ(store.createKey(hkey::LocalMachine, "SOFTWARE\\Added", h), Status::Success);
  store.closeKey(h);
  for (std::size_t failAt : {std::size_t(0), std::size_t(1000), before.size() / 2}) {
    Outcome r = saveRegistryFile(store, path, failAt);
    EXPECT_EQ(r.status(), Status::WriteFault) << failAt;
    EXPECT_EQ(test::readText(path), before);
    std::size_t left = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) left += e.exists();
    EXPECT_EQ(left, 1u) << "a temporary file was left behind";
  }
}

}  // namespace
}  // namespace brisquell
