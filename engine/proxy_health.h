#pragma once
// How every entry of proxy.txt has fared, process-wide beside the rotation: requests, successes
// and failures by kind, whether the entry is set aside for a cool-down after failing at the
// proxy itself, and the one trial request that decides on its return. Thread-safe; times are
// readings of the run's millisecond tick clock.
#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "engine/fetch_failure.h"
#include "engine/run_timings.h"

namespace mirava::engine {

struct ProxyHealthSettings {
  int FailuresToSetAside = 3;  // consecutive failures at the proxy itself
  std::chrono::milliseconds FirstCoolDown = std::chrono::minutes(1);
  std::chrono::milliseconds MaxCoolDown = std::chrono::minutes(30);
  // A trial request whose worker never reports (stopped, held) is handed to another after this:
  // time for the request to reach the proxy and have the first byte of its answer.
  std::chrono::milliseconds TrialTimeout =
      timings::kProxyConnectTimeout + timings::kProxyFirstByteTimeout;
};

// What one entry has done so far.
struct ProxyRecord {
  long long Requests = 0;
  long long Successes = 0;
  std::array<long long, kFailureKindCount> Failures{};  // by FailureKind
  int ConsecutiveFaults = 0;
  // The cool-down the next setting aside gets; doubles with every failure after a return.
  std::chrono::milliseconds NextCoolDown{0};
  bool SetAside = false;
  std::uint32_t SetAsideUntil = 0;  // tick; meaningful while SetAside
  // Back from a cool-down and not yet proven: one request at a time goes through it until one
  // ends; its result decides.
  bool OnTrial = false;
  bool TrialTaken = false;
  std::uint32_t TrialTakenUntil = 0;  // tick; meaningful while TrialTaken
  long long ProxyFaults() const;
};

// A change of an entry's standing that the operator is told about.
struct ProxyHealthChange {
  enum class What { SetAside, Returned };
  What Change = What::SetAside;
  std::string Entry;  // the proxy.txt line; never shown, see ProxyDisplayName
  std::chrono::milliseconds CoolDown{0};
  FailureKind Reason = FailureKind::None;
  int ConsecutiveFaults = 0;
};

// What a worker about to send through an entry is told.
struct ProxyGrant {
  bool Granted = false;
  bool Trial = false;  // the entry's trial request: its result decides the entry's standing
  std::optional<ProxyHealthChange> Returned;  // the entry came back with this turn: announce it
};

class ProxyHealth {
 public:
  ProxyHealth() = default;

  // Tests shorten the cool-downs; takes effect for later failures.
  void Configure(const ProxyHealthSettings& settings);

  // One request through `entry` ended: successfully (`kind` None) or with a failure of `kind`.
  // Returns the change of standing it caused, if any.
  std::optional<ProxyHealthChange> Record(const std::string& entry, FailureKind kind,
                                          std::uint32_t now);

  // True when `entry` is not set aside at `now`. An entry whose cool-down has ended is back in
  // the rotation, on trial (see TakeTurn); the change is returned once, to be announced.
  bool IsUsable(const std::string& entry, std::uint32_t now,
                std::optional<ProxyHealthChange>* returned = nullptr);

  // Whether a worker may send through `entry` now. Set aside: no. Back from its cool-down: the
  // first caller gets the entry's trial request and everybody else is refused until its result
  // is recorded, it is given back, or TrialTimeout has passed.
  ProxyGrant TakeTurn(const std::string& entry, std::uint32_t now);
  // A trial request that will not report (its worker was stopped): the next taker gets it.
  void ReleaseTrial(const std::string& entry);

  // Milliseconds until `entry` may be taken: its cool-down or another worker's trial (0 when it
  // is free).
  std::uint32_t WaitFor(const std::string& entry, std::uint32_t now) const;

  // Of `entries`, the position of the one whose cool-down ends first.
  std::size_t SoonestBack(const std::vector<std::string>& entries, std::uint32_t now) const;

  // Copies, for the summary.
  std::map<std::string, ProxyRecord> Records() const;

 private:
  // Ends `record`'s cool-down: back, on trial.
  static ProxyHealthChange ComeBack(const std::string& entry, ProxyRecord& record);
  static std::uint32_t WaitOf(const ProxyRecord& record, std::uint32_t now);

  mutable std::mutex mutex_;
  ProxyHealthSettings settings_;
  std::map<std::string, ProxyRecord> records_;
};

// "host:port" of an entry in either form, never its credentials; empty when it names none.
std::string ProxyDisplayName(const std::string& entry);

// The log line of a change: "Прокси 1.2.3.4:8080 отложен на 1 минуту: не удалось подключиться
// (3 ошибки подряд)", "Прокси 1.2.3.4:8080 снова в работе".
std::string ProxyHealthChangeText(const ProxyHealthChange& change);

// The end-of-run summary line for the run's list `entries`, counting what happened between the
// two readings of the table: "Прокси: использовано 10, работают 6, отложено 4; больше всего
// ошибок: 127.0.0.1:5 (4), ...". Nothing when the run sent nothing through a proxy.
std::optional<std::string> ProxyHealthSummaryText(
    const std::vector<std::string>& entries, const std::map<std::string, ProxyRecord>& at_start,
    const std::map<std::string, ProxyRecord>& at_end, std::uint32_t now);

// The proxies' standing in a few words for a progress line: "прокси: работают 6, отложено 4";
// empty before anything went through a proxy.
std::string ProxyHealthAccountText(const std::map<std::string, ProxyRecord>& records,
                                   std::uint32_t now);

// The Russian reason of a failure kind, in lower case, for the lines above.
std::string ProxyFaultText(FailureKind kind);

}  // namespace mirava::engine
