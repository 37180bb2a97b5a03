// The TCP/IP tuning behind frmSpeedIntenetConnection: the stored connection kind and the fixed
// values written for it. The window adds the progress animation and the messages.
#pragma once

#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "scan/ScanContext.h"

namespace brisquell {

enum class ConnectionKind { None, DialUp, Cable, Dsl };

/// One row of the tuning table.
struct TuningValue {
  std::string_view key;
  std::string_view name;
  std::string_view data;
};

/// What a command wrote (or removed), as "KEY\NAME = DATA" lines, and what did not take.
struct TuningResult {
  std::vector<std::string> done;
  std::vector<std::string> failed;
};

class ConnectionTuning {
 public:
  static constexpr std::string_view kStackKey = "SYSTEM\\CurrentControlSet\\Services\\VxD\\MSTCP";
  static constexpr std::string_view kTransportKey =
      "SYSTEM\\CurrentControlSet\\Services\\Class\\NetTrans";

  static constexpr std::string_view kCaption = "Brisquell - Speed up your internet.";
  static constexpr std::string_view kRestartMessage =
      "For the changes to take effect, you must restart your computer.";
  static constexpr std::string_view kDefaultsMessage =
      "Default Values Loaded. You will need to restart to changes to take effect.";

  explicit ConnectionTuning(ScanSession& ctx);

  /// The four values of a kind in table order (none for ConnectionKind::None).
  static std::vector<TuningValue> values(ConnectionKind kind);

  /// The selected option from the stored flags: dial-up, then cable, then DSL, the last "True"
  /// one winning; None when all are false.
  ConnectionKind Form_Load();
  /// Each stores "True" for its own kind and "False" for the other two, so that the stored
  /// choice is the one the window shows next time.
  void optDialUpInternetAccess_Click();
  void optCableInternetAccess_Click();
  void optDSL_Click();
  /// Writes the kind's values and "LastTime"; each write is listed as done or failed by the
  /// status the registry returned.
  TuningResult cmdOptimize_Click(ConnectionKind kind);
  /// Removes the tuning values, so that the network stack's own defaults apply again.
  TuningResult cmdSetToDefault_Click();
  void setClock(std::function<std::time_t()> clock) { clock_ = std::move(clock); }

 private:
  void storeKind(ConnectionKind kind, std::string_view procedure);
  bool write(std::string_view key, std::string_view name, std::string_view data, TuningResult& r);

  ScanSession& ctx_;
  std::function<std::time_t()> clock_;
};

}  // namespace brisquell
