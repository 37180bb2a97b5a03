// brisquell scan: runs a quick or deep scan and prints the problems as text, tsv or json.
#include <atomic>
#include <chrono>
#include <csignal>
#include <iostream>
#include <sstream>

#include <fmt/format.h>

#include "cli/Commands.h"
#include "platform/AtomicFile.h"
#include "platform/Console.h"
#include "repair/Plan.h"
#include "scan/ScanDriver.h"
#include "shell/IgnoreList.h"

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

std::string leftOutNote(std::size_t n) {
  return fmt::format("{} ignored entr{} left out (scan --no-ignore shows {}).", n,
                     n == 1 ? "y" : "ies", n == 1 ? "it" : "them");
}

std::string textReport(ScanContext& ctx, ScanMode mode, bool cancelled) {
  std::string out = fmt::format("{} scan of {}{}\n\n", mode == ScanMode::Quick ? "Quick" : "Deep",
                                ctx.target().location(), cancelled ? " (cancelled)" : "");
  out += fmt::format("{:<34} {:<10} {}\n", "Registry Section", "Status", "Problems");
  for (const auto& p : ctx.progress())
    out += fmt::format("{:<34} {:<10} {}\n", p.name, p.status, p.problems);
  out += "\n";
  if (ctx.leftOut) out += leftOutNote(ctx.leftOut) + "\n";
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
  bool quick = false, deep = false, noIgnore = false;
  std::string format = "text", output;
  SectionsOption sections;
};

// Several targets' reports, gathered to be written once.
struct Gathered {
  std::string text;
  std::vector<TargetPlan> parts;
  std::vector<std::pair<std::string, std::string>> failed;  // folder, why
};

int writeReport(const ScanOptions& o, const std::string& report) {
  if (o.output.empty()) {
    std::cout << report << std::flush;
    return std::cout ? kOk : kFailed;
  }
  AtomicFile f(o.output, AtomicFile::Mode::Output);
  Outcome r = f.open();
  if (r && !f.write(report.data(), report.size()))
    r = Outcome::fail(o.output + ": could not be written", Status::WriteFault);
  if (r) r = f.commit();
  if (!r) {
    std::cerr << "brisquell: " << r.message() << "\n";
    return kFailed;
  }
  return kOk;
}

// Scans one target; its report goes into `into` when gathering several, else out at once.
int scanCommand(CommandTarget& on, const ScanOptions& o, Gathered* into,
                const std::string& folder) {
  ScanMode mode = o.deep ? ScanMode::Deep : ScanMode::Quick;
  ScanContext& ctx = on.ctx();
  ctx.sectionChoice = o.sections.chosen;
  bool live = o.format == "text" && console::errorIsTerminal();
  TerminalProgress progress(ctx, live);
  ctx.setPump(&progress);
  ctx.setObserver(&progress);
  interrupted = false;
  if (!o.noIgnore) IgnoreList::applyTo(ctx);
  auto previous = std::signal(SIGINT, onInterrupt);
  ScanOutcome outcome = runScan(ctx, mode);
  std::signal(SIGINT, previous);
  progress.clear();
  bool cancelled = outcome == ScanOutcome::Cancelled;
  if (ctx.leftOut && o.format != "text") std::cerr << leftOutNote(ctx.leftOut) << "\n";
  const int done = cancelled ? kCancelled : kOk;
  if (into && o.format == "json") {
    into->parts.push_back(makePlan(ctx, mode, cancelled));
    return done;
  }
  if (into && o.format == "tsv") {
    // Each row starts with the target's folder, so that rows of several targets stay apart.
    for (const auto& r : ctx.problems().rows())
      into->text += fmt::format("{}\t{}\t{}\t{}\t{}\t{}\t{}\n", folder, r.MainKey, r.KeyName,
                                r.KeyValue, r.Section, r.FullKeyPath, r.MainKeyName);
    return done;
  }
  if (into) {
    into->text += fmt::format("== {} ({}) ==\n{}\n", folder, ctx.target().kind(),
                              textReport(ctx, mode, cancelled));
    return done;
  }
  std::string report = o.format == "tsv"    ? tsvReport(ctx.problems())
                       : o.format == "json" ? writePlan({makePlan(ctx, mode, cancelled)})
                                            : textReport(ctx, mode, cancelled);
  if (int rc = writeReport(o, report); rc != kOk) return rc;
  return done;
}

int scanSeveral(const Global& g, const ScanOptions& o) {
  Gathered all;
  int rc = runOnTargets(
      g, Access::Read,
      [&](CommandTarget& on, const std::string& folder) {
        return scanCommand(on, o, &all, folder);
      },
      [&](const std::string& folder, const std::string& why) {
        all.failed.emplace_back(folder, why);
        if (o.format == "text")
          all.text += fmt::format("== {} ==\nnot scanned: {}\n\n", folder, why);
      });
  std::string report = all.text;
  if (o.format == "json") {
    std::vector<PlanFailure> failed;
    for (auto& [folder, why] : all.failed) failed.push_back({folder, why});
    report = writePlan(all.parts, failed, true);
  }
  if (int w = writeReport(o, report); w != kOk) return w;
  return rc;
}

}  // namespace

void addSectionsOption(CLI::App& cmd, SectionsOption& o) {
  cmd.add_option("--sections", o.text,
                 "default, all, or a comma list of section names (\"Windows Services,Sound "
                 "Events\"; default and all may be among them)")
      ->check([&o](const std::string& text) -> std::string {
        auto chosen = chooseSections(text);
        if (!chosen) return chosen.message();
        o.chosen = std::move(chosen).value();
        return {};
      });
}

void addScanCommand(CLI::App& app, Global& g, int& result) {
  auto o = std::make_shared<ScanOptions>();
  auto* scan = app.add_subcommand("scan", "scan the registry (and, deep, the drives) for problems");
  auto* quick = scan->add_flag("--quick", o->quick, "the registry sections only (default)");
  scan->add_flag("--deep", o->deep, "also the shortcut files on the fixed drives")->excludes(quick);
  scan->add_option("--format", o->format, "text, tsv or json")
      ->check(CLI::IsMember({"text", "tsv", "json"}));
  scan->add_option("--output,-o", o->output, "write the report to FILE");
  addSectionsOption(*scan, o->sections);
  scan->add_flag("--no-ignore", o->noIgnore, "also report what the ignore list leaves out");
  scan->callback([&g, &result, o] {
    if (severalTargets(g)) {
      result = scanSeveral(g, *o);
      return;
    }
    result = runOnTarget(g, Access::Read,
                         [&](CommandTarget& on) { return scanCommand(on, *o, nullptr, {}); });
  });
}

}  // namespace brisquell::cli
