// A review plan: every record of a scan with the evidence behind it (the value's type and a
// digest of its data, the paths tested and where they lead on the host), written as JSON for
// the user to read and edit, and read back to repair exactly the records still as it saw them.
// The format is documented in docs/plan.schema.json.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Bytes.h"
#include "platform/Status.h"
#include "scan/ScanContext.h"

namespace brisquell {

/// The target a plan was made on; a plan is applied to that target only.
struct PlanTarget {
  std::string kind;      // Target::kind()
  std::string location;  // the target's folder, made absolute
  std::string user;      // the machine's user (an offline installation's profile)
  bool operator==(const PlanTarget&) const = default;
  std::string describe() const;
};

/// One Windows path a check found missing.
struct PlanPath {
  std::string windows;
  std::optional<std::string> host;  // where it resolved on the host
  std::string why;                  // why there is no host path
};

struct PlanRecord {
  ProblemRecord record;  // the six fields
  /// "REG_SZ", "REG_DWORD", ... ("0x1F" for a code without a name); "absent" when the value
  /// does not exist; "file" for a shortcut file, whose bytes the digest covers.
  std::string valueType;
  std::string digest;  // SHA-256 of the data as stored, lower-case hex; empty when absent
  std::vector<PlanPath> tested;
  std::string untested;  // why no path was tested, when tested is empty
  /// How many records of the scan name this same value (through HKCR and HKLM, say): the
  /// value is deleted only when every one of them is still in the plan.
  std::size_t listings = 1;
  std::size_t line = 0;  // where the record starts in the file it was read from
};

struct SectionSummary {
  std::string name, status, problems, threatLevel;
  bool ticked = true;
  std::size_t count = 0;
};

/// One target's part of a plan.
struct TargetPlan {
  PlanTarget target;
  std::string mode = "quick";  // "quick" or "deep"
  bool cancelled = false;
  std::size_t leftOut = 0;  // records the ignore list kept out of the scan
  std::vector<SectionSummary> sections;
  std::vector<PlanRecord> records;
  std::size_t line = 0;
};

inline constexpr std::string_view kPlanFormat = "brisquell-plan";
inline constexpr int kPlanVersion = 1;

PlanTarget identify(Target& target);

/// SHA-256 of the bytes as lower-case hex.
std::string sha256Hex(const Bytes& data);
/// The plan's name for a registry type code.
std::string valueTypeName(std::uint32_t type);

/// The plan of the scan the context holds (its problem list, sections and counts).
TargetPlan makePlan(ScanContext& ctx, ScanMode mode, bool cancelled);

/// A target that could not be scanned, named in a plan of several.
struct PlanFailure {
  std::string folder, error;
};

/// The plan as JSON: one target's part at the top level, several (or `many`) under "targets",
/// with the targets that failed under "failed".
std::string writePlan(const std::vector<TargetPlan>& parts,
                      const std::vector<PlanFailure>& failed = {}, bool many = false);

/// Reads a plan; a damaged one gives "FILE:LINE: what is wrong". Never throws.
Result<std::vector<TargetPlan>> parsePlan(std::string_view text, std::string_view fileName);

/// What is left of a plan on its target now.
struct PlanCheck {
  std::vector<ProblemRecord> current;  // records still as the plan saw them
  std::vector<std::string> changed;    // one line per record skipped, naming it and why
};

/// Checks each record of the plan against the target: the value still of the same type and
/// data, every tested path still missing. Refuses a plan made on another target.
Result<PlanCheck> checkPlan(ScanContext& ctx, const TargetPlan& plan, std::string_view fileName);

/// The part of a plan made on this target; an error naming the file when there is none.
Result<const TargetPlan*> planFor(const std::vector<TargetPlan>& parts, Target& target,
                                  std::string_view fileName);

}  // namespace brisquell
