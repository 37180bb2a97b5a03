// Review plans (`fix --plan`): whatever the reader accepts, the writer writes so that a second
// read gives the same targets and records, and a refused plan always says FILE:LINE.
#include <string>

#include "FuzzSupport.h"
#include "repair/Plan.h"

using namespace brisquell;

namespace {

// What a fix acts on: per target its identity, and per record the fields and the evidence.
std::string modelOf(const std::vector<TargetPlan>& parts) {
  std::string m;
  for (const TargetPlan& t : parts) {
    m += t.target.kind + "|" + t.target.location + "|" + t.target.user + "|" + t.mode + "\n";
    for (const PlanRecord& pr : t.records) {
      const ProblemRecord& r = pr.record;
      m += r.MainKey + "|" + r.KeyName + "|" + (r.unnamed ? "u" : "n") + "|" + r.KeyValue + "|" +
           r.Section + "|" + r.FullKeyPath + "|" + r.MainKeyName + "|" + pr.valueType + "|" +
           pr.digest + "|" + std::to_string(pr.listings) + "\n";
      for (const PlanPath& p : pr.tested)
        m += "  " + p.windows + "|" + (p.host ? *p.host : "-") + "|" + p.why + "\n";
    }
  }
  return m;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = fuzz::asText(data, size);
  Result<std::vector<TargetPlan>> plan = parsePlan(text, "plan.json");
  if (!plan) {
    FUZZ_CHECK(plan.message().rfind("plan.json:", 0) == 0,
               "a refused plan names the file: " + plan.message());
    return 0;
  }
  const std::string written = writePlan(*plan, {}, plan->size() > 1);
  Result<std::vector<TargetPlan>> again = parsePlan(written, "again.json");
  FUZZ_CHECK(again.ok(), "what the writer wrote is refused: " + again.message());
  FUZZ_CHECK(modelOf(*again) == modelOf(*plan), "the plan changed on its way through the writer");
  return 0;
}
