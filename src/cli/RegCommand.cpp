// brisquell reg export|import: the registry of the target as .reg text.
#include <cstdio>
#include <iostream>

#include "cli/Commands.h"
#include "platform/AtomicFile.h"
#include "platform/RegFile.h"

namespace brisquell::cli {

namespace {

int exportCommand(const Global& g, const std::string& key, const std::string& output) {
  int code = kOk;
  auto target = openNamedTarget(g, code);
  if (!target) return code;
  KeyHandle root = 0;
  std::string path;
  if (!key.empty() && !splitRegPath(key, root, path)) {
    std::cerr << "brisquell: unknown root key in \"" << key << "\"\n";
    return kUsage;
  }
  if (root) {
    KeyHandle h = 0;
    if (target->registry().openKey(root, path, keyaccess::AllAccess, h) != Status::Success) {
      std::cerr << "brisquell: the key " << key << " does not exist\n";
      return kFailed;
    }
    target->registry().closeKey(h);
  }
  if (output.empty() || output == "-") {
    Status st = writeReg(target->registry(), root, path, RegFormat::Version5,
                               [](const char* d, std::size_t n) {
                                 return std::fwrite(d, 1, n, stdout) == n;
                               });
    if (st != Status::Success || std::fflush(stdout) != 0) {
      std::cerr << "brisquell: writing the export failed\n";
      return kFailed;
    }
    return kOk;
  }
  AtomicFile file(output);
  std::string err;
  if (!file.open(err)) {
    std::cerr << "brisquell: " << err << "\n";
    return kFailed;
  }
  Status st = writeReg(target->registry(), root, path, RegFormat::Version5,
                             [&](const char* d, std::size_t n) { return file.write(d, n); });
  if (st != Status::Success || !file.commit(err)) {
    std::cerr << "brisquell: " << (err.empty() ? output + ": could not be written" : err) << "\n";
    return kFailed;
  }
  return kOk;
}

int importCommand(const Global& g, const std::string& file) {
  int code = kOk;
  auto target = openNamedTarget(g, code, Access::Write);
  if (!target) return code;
  RegRecorder recorded;
  RegError err;
  if (!parseRegFile(file, recorded, err)) {
    std::cerr << err.message() << "\n";
    std::cerr << "brisquell: nothing was imported\n";
    return kFailed;
  }
  Status st = recorded.applyTo(target->registry());
  if (st != Status::Success) {
    std::cerr << "brisquell: " << file << ": the import failed (status " << st
              << "); nothing was saved\n";
    return kFailed;
  }
  return saveTarget(*target) ? kOk : kFailed;
}

}  // namespace

void addRegCommand(CLI::App& app, Global& g, int& result) {
  auto* reg = app.add_subcommand("reg", "export or import the target's registry as .reg text");
  reg->require_subcommand(1);
  auto* exp = reg->add_subcommand("export", "write a key and everything below it (default: all)");
  static std::string key, output, file;
  exp->add_option("KEY", key, "for example HKEY_LOCAL_MACHINE\\SOFTWARE");
  exp->add_option("--output,-o", output, "file to write (default: standard output)");
  exp->callback([&] { result = exportCommand(g, key, output); });
  auto* imp = reg->add_subcommand("import", "merge a .reg file into the target's registry");
  imp->add_option("FILE", file, "REGEDIT4 or version 5 .reg file")->required();
  imp->callback([&] { result = importCommand(g, file); });
}

}  // namespace brisquell::cli
