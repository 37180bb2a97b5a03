// brisquell scan: runs a quick or deep scan and prints the problems as text, tsv or json.
#include <atomic>
#include <chrono>
#include <csignal>
#include <iostream>
#include <sstream>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "cli/Commands.h"
#include "platform/AtomicFile.h"
#include "platform/Console.h"
#include "scan/ScanDriver.h"

namespace brisquell::cli {

namespace {

std::atomic<bool> interrupted{false};
extern "C" void onInterrupt(int) { interrupted = true; }

// Polls Ctrl-C at every yield point and keeps a one-line status on a terminal.
class TerminalProgress final : public EventPump, public ScanObserver {
 public:
  TerminalProgress(ScanContext& ctx, bool live) : ctx_(ctx), live_(live) {}
  ~TerminalProgress() override { clear(); }

  void pump() override {
    if (interrupted) ctx_.bCancelScan = true;
    if (!live_) return;
    auto now = std::chrono::steady_clock::now();
    if (now - last_ < std::chrono::milliseconds(100)) return;
    last_ = now;
    std::string line =
        fmt::format("{} | {} | {} problems so far", section_, key_, ctx_.problems().size());
    if (line.size() > 100) line = line.substr(0, 97) + "...";
    std::cerr << "\r\033[K" << line << std::flush;
    shown_ = true;
  }
  void keyLabel(std::string_view k) override {
    if (live_) key_ = k;
  }
  void progressRowAdded(std::size_t i) override {
    if (live_) section_ = ctx_.progress()[i].name;
  }
  void clear() {
    if (shown_) std::cerr << "\r\033[K" << std::flush;
    shown_ = false;
  }

 private:
  ScanContext& ctx_;
  bool live_;
  bool shown_ = false;
  std::string section_, key_;
  std::chrono::steady_clock::time_point last_{};
};

std::string tsvReport(const ProblemList& problems) {
  std::string out;
  for (const auto& r : problems.rows())
    out += fmt::format("{}\t{}\t{}\t{}\t{}\t{}\n", r.MainKey, r.KeyName, r.KeyValue, r.Section,
                       r.FullKeyPath, r.MainKeyName);
  return out;
}

std::string jsonReport(ScanContext& ctx, ScanMode mode, bool cancelled) {
  nlohmann::json j;
  j["mode"] = mode == ScanMode::Quick ? "quick" : "deep";
  j["cancelled"] = cancelled;
  auto& sections = j["sections"] = nlohmann::json::array();
  for (const auto& s : ctx.sections()) {
    std::size_t count = 0;
    for (const auto& r : ctx.problems().rows())
      if (r.Section == s.name && !r.MainKey.empty()) ++count;
    sections.push_back({{"name", s.name},
                        {"ticked", s.ticked},
                        {"status", s.status},
                        {"problems", s.problems},
                        {"threatLevel", s.threatLevel},
                        {"count", count}});
  }
  auto& records = j["problems"] = nlohmann::json::array();
  for (const auto& r : ctx.problems().rows())
    records.push_back({{"MainKey", r.MainKey},
                       {"KeyName", r.KeyName},
                       {"KeyValue", r.KeyValue},
                       {"Section", r.Section},
                       {"FullKeyPath", r.FullKeyPath},
                       {"MainKeyName", r.MainKeyName}});
  j["total"] = ctx.problems().size();
  return j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

std::string textReport(ScanContext& ctx, ScanMode mode, bool cancelled) {
  std::string out = fmt::format("{} scan of {}{}\n\n", mode == ScanMode::Quick ? "Quick" : "Deep",
                                ctx.target().location(), cancelled ? " (cancelled)" : "");
  out += fmt::format("{:<34} {:<10} {}\n", "Registry Section", "Status", "Problems");
  for (const auto& p : ctx.progress())
    out += fmt::format("{:<34} {:<10} {}\n", p.name, p.status, p.problems);
  out += "\n";
  if (ctx.problems().empty()) {
    if (!cancelled) out += std::string(kNoProblemsMessage) + "\n";
    return out;
  }
  out += fmt::format("{} problem{} found.\n", ctx.problems().size(),
                     ctx.problems().size() == 1 ? "" : "s");
  for (const auto& s : ctx.sections()) {
    std::string block;
    std::size_t n = 0;
    for (const auto& r : ctx.problems().rows()) {
      if (r.Section != s.name) continue;
      ++n;
      if (r.isFileProblem())
        block += fmt::format("  {}\n", r.KeyValue);
      else
        block +=
            fmt::format("  {}\\{}  {} = {}\n", r.MainKeyName, r.FullKeyPath, r.KeyName, r.KeyValue);
    }
    if (n) out += fmt::format("\n{} ({})\n{}", s.name, n, block);
  }
  return out;
}

struct ScanOptions {
  bool quick = false, deep = false;
  std::string format = "text", output;
};

int scanCommand(CommandTarget& on, const ScanOptions& o) {
  ScanMode mode = o.deep ? ScanMode::Deep : ScanMode::Quick;
  ScanContext& ctx = on.ctx();
  bool live = o.format == "text" && console::errorIsTerminal();
  TerminalProgress progress(ctx, live);
  ctx.setPump(&progress);
  ctx.setObserver(&progress);
  interrupted = false;
  auto previous = std::signal(SIGINT, onInterrupt);
  ScanOutcome outcome = runScan(ctx, mode);
  std::signal(SIGINT, previous);
  progress.clear();
  bool cancelled = outcome == ScanOutcome::Cancelled;
  std::string report = o.format == "tsv"    ? tsvReport(ctx.problems())
                       : o.format == "json" ? jsonReport(ctx, mode, cancelled)
                                            : textReport(ctx, mode, cancelled);
  if (o.output.empty()) {
    std::cout << report << std::flush;
    if (!std::cout) return kFailed;
  } else {
    AtomicFile f(o.output, AtomicFile::Mode::Output);
    Outcome r = f.open();
    if (r && !f.write(report.data(), report.size()))
      r = Outcome::fail(o.output + ": could not be written", Status::WriteFault);
    if (r) r = f.commit();
    if (!r) {
      std::cerr << "brisquell: " << r.message() << "\n";
      return kFailed;
    }
  }
  return cancelled ? kCancelled : kOk;
}

}  // namespace

void addScanCommand(CLI::App& app, Global& g, int& result) {
  auto o = std::make_shared<ScanOptions>();
  auto* scan = app.add_subcommand("scan", "scan the registry (and, deep, the drives) for problems");
  auto* quick = scan->add_flag("--quick", o->quick, "the registry sections only (default)");
  scan->add_flag("--deep", o->deep, "also the shortcut files on the fixed drives")->excludes(quick);
  scan->add_option("--format", o->format, "text, tsv or json")
      ->check(CLI::IsMember({"text", "tsv", "json"}));
  scan->add_option("--output,-o", o->output, "write the report to FILE");
  scan->callback([&g, &result, o] {
    result = runOnTarget(g, Access::Read, [&](CommandTarget& on) { return scanCommand(on, *o); });
  });
}

}  // namespace brisquell::cli
