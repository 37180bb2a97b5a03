// Connection tuning: the values per connection kind, "LastTime", the stored kind, the defaults.
#include <gtest/gtest.h>

#include "optimize/ConnectionTuning.h"
#include "scan/ScanTestSupport.h"

namespace brisquell::test {

namespace {

constexpr std::string_view kStack = ConnectionTuning::kStackKey;
constexpr std::string_view kTransport = ConnectionTuning::kTransportKey;
constexpr std::string_view kKinds =
    "SOFTWARE\\Quandrel Technology\\Brisquell\\frmSpeedIntenetConnection";

struct Tuning {
  ScanMachine m;
  ConnectionTuning t;
  explicit Tuning(const std::string& reg = "") : m(reg), t(*m.ctx) {
    t.setClock([] { return std::time_t{1102527912}; });
  }
  std::string value(std::string_view key, std::string_view name) {
    std::string text;
    return m.ctx->registry().QueryValue(hkey::LocalMachine, key, name, text) ? text : "(none)";
  }
  std::vector<std::string> tuning() {
    return {value(kStack, "DefaultRcvWindow"), value(kStack, "DefaultTTL"),
            value(kTransport, "MaxMSS"), value(kTransport, "MaxMTU")};
  }
  std::string lastTime() {
    return value("SOFTWARE\\Quandrel Technology\\Brisquell\\Optimization", "LastTime");
  }
};

}  // namespace

TEST(TuningValues, DialUpWritesItsFourValuesCreatingMissingKeys) {
  Tuning x;
  auto r = x.t.cmdOptimize_Click(ConnectionKind::DialUp);
  EXPECT_EQ(x.tuning(), (std::vector<std::string>{"8192", "128", "536", "576"}));
  EXPECT_EQ(r.done.size(), 5u);
  EXPECT_TRUE(r.failed.empty());
  EXPECT_EQ(x.lastTime(), generalDateText(1102527912));
}

TEST(TuningValues, CableAndDslWriteTheSameValues) {
  for (ConnectionKind k : {ConnectionKind::Cable, ConnectionKind::Dsl}) {
    Tuning x;
    x.t.cmdOptimize_Click(k);
    EXPECT_EQ(x.tuning(), (std::vector<std::string>{"372300", "128", "1460", "1500"}));
  }
}

TEST(TuningValues, ValuesAreStringsAndOverwriteEarlierOnes) {
  Tuning x(R"(
[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\VxD\MSTCP]
"DefaultRcvWindow"="8192"
"Other"="kept"
)");
  x.t.cmdOptimize_Click(ConnectionKind::Cable);
  EXPECT_EQ(x.value(kStack, "DefaultRcvWindow"), "372300");
  EXPECT_EQ(x.value(kStack, "Other"), "kept");
  RegistryStore& store = x.m.machine->registry();
  KeyHandle h = 0;
  ASSERT_EQ(store.openKey(hkey::LocalMachine, kTransport, keyaccess::AllAccess, h),
            Status::Success);
  std::uint32_t type = 0;
  Bytes data;
  ASSERT_EQ(store.queryValue(h, "MaxMTU", type, data), Status::Success);
  EXPECT_EQ(type, regtype::Sz);
  store.closeKey(h);
}

TEST(TuningValues, NoKindWritesOnlyLastTime) {
  Tuning x;
  auto r = x.t.cmdOptimize_Click(ConnectionKind::None);
  EXPECT_EQ(x.tuning(), (std::vector<std::string>(4, "(none)")));
  ASSERT_EQ(r.done.size(), 1u);
  EXPECT_NE(x.lastTime(), "(none)");
}

TEST(TuningValues, SetToDefaultRemovesTheTuningValuesOnly) {
  Tuning x;
  x.t.cmdOptimize_Click(ConnectionKind::Cable);
  auto r = x.t.cmdSetToDefault_Click();
  EXPECT_EQ(r.done.size(), 4u);
  EXPECT_EQ(x.tuning(), (std::vector<std::string>(4, "(none)")));
  EXPECT_NE(x.lastTime(), "(none)");
  EXPECT_TRUE(x.t.cmdSetToDefault_Click().done.empty());
}

TEST(TuningKind, DialUpWithoutStoredFlags) {
  Tuning x;
  EXPECT_EQ(x.t.Form_Load(), ConnectionKind::DialUp);
}

TEST(TuningKind, LastTrueFlagWinsAndAllFalseSelectsNothing) {
  Tuning x(R"(
[HKEY_LOCAL_MACHINE\SOFTWARE\Quandrel Technology\Brisquell\frmSpeedIntenetConnection]
"DialUpInternetAccess"="True"
"CableInternetAccess"="true"
"DSL"="False"
)");
  EXPECT_EQ(x.t.Form_Load(), ConnectionKind::Cable);
  Tuning none(R"(
[HKEY_LOCAL_MACHINE\SOFTWARE\Quandrel Technology\Brisquell\frmSpeedIntenetConnection]
"DialUpInternetAccess"="False"
)");
  EXPECT_EQ(none.t.Form_Load(), ConnectionKind::None);
}

TEST(TuningKind, ChoosingAKindStoresItAndClearsTheOthers) {
  Tuning x;
  x.t.optDSL_Click();
  EXPECT_EQ(x.t.Form_Load(), ConnectionKind::Dsl);
  x.t.optDialUpInternetAccess_Click();
  EXPECT_EQ(x.t.Form_Load(), ConnectionKind::DialUp);
  EXPECT_EQ(x.value(kKinds, "DSL"), "False");
  EXPECT_EQ(x.value(kKinds, "CableInternetAccess"), "False");
  x.t.optCableInternetAccess_Click();
  EXPECT_EQ(x.value(kKinds, "DialUpInternetAccess"), "False");
  EXPECT_EQ(x.t.Form_Load(), ConnectionKind::Cable);
}

TEST(TuningKind, GeneralDateFormat) {
  // 2004-12-08 17:45:12 local time, whatever the zone.
  std::tm tm{};
  tm.tm_year = 104;
  tm.tm_mon = 11;
  tm.tm_mday = 8;
  tm.tm_hour = 17;
  tm.tm_min = 45;
  tm.tm_sec = 2;
  tm.tm_isdst = -1;
  EXPECT_EQ(generalDateText(std::mktime(&tm)), "12/8/2004 5:45:02 PM");
  tm.tm_hour = 0;
  EXPECT_EQ(generalDateText(std::mktime(&tm)), "12/8/2004 12:45:02 AM");
}

}  // namespace brisquell::test
