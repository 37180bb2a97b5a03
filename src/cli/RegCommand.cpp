// brisquell reg export|import: the registry of the target as .reg text.
#include <cstdio>
#include <iostream>

#include "cli/Commands.h"
#include "platform/AtomicFile.h"
#include "platform/RegFile.h"

namespace brisquell::cli {

namespace {

// Passes statements on, noting the keys whose root the target has no place for.
class RootCheck final : public RegSink {
 public:
  RootCheck(const Target& target, RegSink& next) : target_(target), next_(next) {}
  void key(KeyHandle root, std::string_view path) override {
    note(root, path);
    next_.key(root, path);
  }
  void deleteKey(KeyHandle root, std::string_view path) override {
    note(root, path);
    next_.deleteKey(root, path);
  }
  void value(std::string_view name, std::uint32_t type, Bytes data) override {
    next_.value(name, type, std::move(data));
  }
  void deleteValue(std::string_view name) override { next_.deleteValue(name); }

  std::vector<std::string> refused;  // the first few, for the message
  std::size_t refusedCount = 0;

 private:
  void note(KeyHandle root, std::string_view path) {
    if (target_.canStore(root)) return;
    if (refusedCount++ < 5)
      refused.push_back(std::string(rootName(root)) + (path.empty() ? "" : "\\") +
                        std::string(path));
  }
  const Target& target_;
  RegSink& next_;
};

// Takes statements and keeps nothing: the first reading of an import only checks the file.
class Discard final : public RegSink {
 public:
  void key(KeyHandle, std::string_view) override {}
  void deleteKey(KeyHandle, std::string_view) override {}
  void value(std::string_view, std::uint32_t, Bytes) override {}
  void deleteValue(std::string_view) override {}
};

int exportCommand(CommandTarget& on, const std::string& key, const std::string& output) {
  Target& target = on.target();
  KeyHandle root = 0;
  std::string path;
  if (!key.empty() && !splitRegPath(key, root, path)) {
    std::cerr << "brisquell: unknown root key in \"" << key << "\"\n";
    return kUsage;
  }
  if (root) {
    KeyHandle h = 0;
    if (target.registry().openKey(root, path, keyaccess::AllAccess, h) != Status::Success) {
      std::cerr << "brisquell: the key " << key << " does not exist\n";
      return kFailed;
    }
    target.registry().closeKey(h);
  }
  if (output.empty() || output == "-") {
    Outcome r =
        writeReg(target.registry(), root, path, RegFormat::Version5,
                 [](const char* d, std::size_t n) { return std::fwrite(d, 1, n, stdout) == n; });
    if (!r || std::fflush(stdout) != 0) {
      std::cerr << "brisquell: " << (r ? std::string("writing the export failed") : r.message())
                << "\n";
      return kFailed;
    }
    return kOk;
  }
  // The file is written whole or not at all: a key that cannot be exported leaves it as it was.
  AtomicFile file(output, AtomicFile::Mode::Output);
  Outcome r = file.open();
  if (r) {
    r = writeReg(target.registry(), root, path, RegFormat::Version5,
                 [&](const char* d, std::size_t n) { return file.write(d, n); });
    if (!r && r.status() == Status::WriteFault)
      r = Outcome::fail(output + ": could not be written", Status::WriteFault);
  }
  if (r) r = file.commit();
  if (!r) {
    std::cerr << "brisquell: " << r.message() << "\n";
    return kFailed;
  }
  return kOk;
}

int importCommand(CommandTarget& on, const std::string& file) {
  Target& target = on.target();
  // Read twice rather than held whole in memory: first checked to the end, then applied.
  Discard nothing;
  RootCheck checked(target, nothing);
  auto parsed = parseRegFile(file, checked);
  if (!parsed) {
    std::cerr << parsed.message() << "\n";
    std::cerr << "brisquell: nothing was imported\n";
    return kFailed;
  }
  // Keys the target cannot keep would be lost on saving: refuse the file rather than drop them.
  if (checked.refusedCount) {
    std::string keys;
    for (const std::string& k : checked.refused) keys += "\n  " + k;
    if (checked.refusedCount > checked.refused.size())
      keys += "\n  ... " + std::to_string(checked.refusedCount - checked.refused.size()) + " more";
    std::cerr << "brisquell: " << file << ": a " << target.kind()
              << " has no place to keep these keys:" << keys
              << "\nbrisquell: nothing was imported\n";
    return kFailed;
  }
  RegApplier applier(target.registry());
  RootCheck rechecked(target, applier);
  auto applied = parseRegFile(file, rechecked);
  if (!applied || rechecked.refusedCount || applier.status() != Status::Success) {
    // Undone in memory: a file changed between the readings leaves the target as it was.
    Outcome undone = target.reload();
    if (!applied)
      std::cerr << applied.message() << "\nbrisquell: " << file
                << ": the file changed while it was imported";
    else
      std::cerr << "brisquell: " << file << ": the import failed (status "
                << (rechecked.refusedCount ? Status::AccessDenied : applier.status()) << ")";
    std::cerr << "; nothing was saved\n";
    if (!undone) std::cerr << "brisquell: " << undone.message() << "\n";
    return kFailed;
  }
  if (!on.save()) return kFailed;
  std::cout << "brisquell: imported " << file << " ("
            << (parsed->format == RegFormat::Regedit4 ? "REGEDIT4" : "version 5") << ", read as "
            << encodingName(parsed->encoding) << ")\n";
  return kOk;
}

}  // namespace

void addRegCommand(CLI::App& app, Global& g, int& result) {
  auto* reg = app.add_subcommand("reg", "export or import the target's registry as .reg text");
  reg->require_subcommand(1);
  auto* exp = reg->add_subcommand("export", "write a key and everything below it (default: all)");
  static std::string key, output, file;
  exp->add_option("KEY", key, "for example HKEY_LOCAL_MACHINE\\SOFTWARE");
  exp->add_option("--output,-o", output, "file to write (default: standard output)");
  exp->callback([&] {
    result = runOnTarget(g, Access::Read,
                         [&](CommandTarget& on) { return exportCommand(on, key, output); });
  });
  auto* imp = reg->add_subcommand("import", "merge a .reg file into the target's registry");
  imp->add_option("FILE", file, "REGEDIT4 or version 5 .reg file")->required();
  imp->callback([&] {
    result =
        runOnTarget(g, Access::Write, [&](CommandTarget& on) { return importCommand(on, file); });
  });
}

}  // namespace brisquell::cli
