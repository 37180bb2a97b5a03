// Connection tuning: the value table, the stored kind and the checked writes.
#include "optimize/ConnectionTuning.h"

#include <fmt/format.h>

#include "scan/ScanDriver.h"
#include "shell/Settings.h"

namespace brisquell {

namespace {

constexpr std::string_view kLoadName = "Form_Load of frmSpeedIntenetConnection";
constexpr std::string_view kOptimizeName = "cmdOptimize_Click of frmSpeedIntenetConnection";
constexpr std::string_view kDefaultName = "cmdSetToDefault_Click  of frmSpeedIntenetConnection";

// An unreadable flag counts as its default.
bool flag(Settings& s, std::string_view name) {
  const Settings::Entry* e = Settings::find(name);
  auto v = Settings::truthValue(s.get(*e));
  if (!v) v = Settings::truthValue(e->defaultValue);
  return v.value_or(false);
}

}  // namespace

ConnectionTuning::ConnectionTuning(ScanSession& ctx)
    : ctx_(ctx), clock_([] { return std::time(nullptr); }) {}

std::vector<TuningValue> ConnectionTuning::values(ConnectionKind kind) {
  switch (kind) {
    case ConnectionKind::DialUp:
      return {{kStackKey, "DefaultRcvWindow", "8192"},
              {kStackKey, "DefaultTTL", "128"},
              {kTransportKey, "MaxMSS", "536"},
              {kTransportKey, "MaxMTU", "576"}};
    case ConnectionKind::Cable:
    case ConnectionKind::Dsl:
      return {{kStackKey, "DefaultRcvWindow", "372300"},
              {kStackKey, "DefaultTTL", "128"},
              {kTransportKey, "MaxMSS", "1460"},
              {kTransportKey, "MaxMTU", "1500"}};
    case ConnectionKind::None: break;
  }
  return {};
}

ConnectionKind ConnectionTuning::Form_Load() {
  ConnectionKind kind = ConnectionKind::None;
  ctx_.log().trap(kLoadName, [&] {
    Settings s(ctx_.registry());
    if (flag(s, "DialUpInternetAccess")) kind = ConnectionKind::DialUp;
    if (flag(s, "CableInternetAccess")) kind = ConnectionKind::Cable;
    if (flag(s, "DSL")) kind = ConnectionKind::Dsl;
  });
  return kind;
}

void ConnectionTuning::storeKind(ConnectionKind kind, std::string_view procedure) {
  ctx_.log().trap(procedure, [&] {
    Settings s(ctx_.registry());
    s.setOption("DialUpInternetAccess", kind == ConnectionKind::DialUp);
    s.setOption("CableInternetAccess", kind == ConnectionKind::Cable);
    s.setOption("DSL", kind == ConnectionKind::Dsl);
  });
}

void ConnectionTuning::optDialUpInternetAccess_Click() {
  storeKind(ConnectionKind::DialUp, "optDialUpInternetAccess_Click of frmSpeedIntenetConnection");
}

void ConnectionTuning::optCableInternetAccess_Click() {
  storeKind(ConnectionKind::Cable, "optCableInternetAccess_Click of frmSpeedIntenetConnection");
}

void ConnectionTuning::optDSL_Click() {
  storeKind(ConnectionKind::Dsl, "optDSL_Click of frmSpeedIntenetConnection");
}

bool ConnectionTuning::write(std::string_view key, std::string_view name, std::string_view data,
                             TuningResult& r) {
  std::string line = fmt::format("HKEY_LOCAL_MACHINE\\{}\\{} = {}", key, name, data);
  bool ok = ctx_.registry().SetKeyValue(hkey::LocalMachine, key, name, data, regtype::Sz) ==
            Status::Success;
  (ok ? r.done : r.failed).push_back(std::move(line));
  return ok;
}

TuningResult ConnectionTuning::cmdOptimize_Click(ConnectionKind kind) {
  TuningResult r;
  ctx_.log().trap(kOptimizeName, [&] {
    for (const TuningValue& v : values(kind)) write(v.key, v.name, v.data, r);
    write(std::string(kProductKey) + "\\Optimization", "LastTime", generalDateText(clock_()), r);
  });
  return r;
}

TuningResult ConnectionTuning::cmdSetToDefault_Click() {
  TuningResult r;
  ctx_.log().trap(kDefaultName, [&] {
    for (const TuningValue& v : values(ConnectionKind::DialUp)) {
      std::string text;
      if (!ctx_.registry().QueryValue(hkey::LocalMachine, v.key, v.name, text)) continue;
      Status st = ctx_.registry().DeleteValue(hkey::LocalMachine, v.key, v.name);
      std::string line = fmt::format("HKEY_LOCAL_MACHINE\\{}\\{} removed", v.key, v.name);
      bool gone = st == Status::Success;
      (gone ? r.done : r.failed).push_back(std::move(line));
    }
  });
  return r;
}

}  // namespace brisquell
