#include "engine/proxy_health.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "engine/proxy_list.h"
#include "engine/run_timings.h"

namespace mirava::engine {

namespace {

// Tick `until` is not yet reached at `now`; right across one wrap of the counter.
bool Before(std::uint32_t now, std::uint32_t until) {
  return static_cast<std::int32_t>(until - now) > 0;
}

std::chrono::milliseconds Doubled(std::chrono::milliseconds cool_down,
                                  std::chrono::milliseconds max) {
  return std::min(cool_down * 2, max);
}

std::string CoolDownText(std::chrono::milliseconds cool_down) {
  if (cool_down.count() % 1000 != 0) {
    return std::to_string(cool_down.count()) + " мс";
  }
  return PauseDurationText(cool_down);
}

}  // namespace

long long ProxyRecord::ProxyFaults() const {
  long long faults = 0;
  for (std::size_t kind = 0; kind < Failures.size(); ++kind) {
    if (IsProxyFault(static_cast<FailureKind>(kind))) {
      faults += Failures[kind];
    }
  }
  return faults;
}

void ProxyHealth::Configure(const ProxyHealthSettings& settings) {
  std::lock_guard<std::mutex> guard(mutex_);
  settings_ = settings;
}

std::optional<ProxyHealthChange> ProxyHealth::Record(const std::string& entry, FailureKind kind,
                                                     std::uint32_t now) {
  std::lock_guard<std::mutex> guard(mutex_);
  ProxyRecord& record = records_[entry];
  ++record.Requests;
  // Any outcome ends a trial; it then decides as for any request: a success or the site's own
  // answer keeps the entry, a fault at the proxy sets it aside at once for twice as long.
  record.OnTrial = false;
  record.TrialTaken = false;
  if (kind == FailureKind::None) {
    ++record.Successes;
    record.ConsecutiveFaults = 0;
    record.NextCoolDown = std::chrono::milliseconds(0);
    if (record.SetAside) {
      record.SetAside = false;
      return ProxyHealthChange{ProxyHealthChange::What::Returned, entry, {}, kind, 0};
    }
    return std::nullopt;
  }
  ++record.Failures[static_cast<std::size_t>(kind)];
  if (!IsProxyFault(kind)) {
    // The site refused or broke off: the proxy did its part.
    return std::nullopt;
  }
  ++record.ConsecutiveFaults;
  if (record.SetAside) {
    // A request that was under way when the entry was set aside.
    return std::nullopt;
  }
  std::chrono::milliseconds cool_down{0};
  if (record.NextCoolDown.count() > 0) {
    // Back from a cool-down and failing again: a longer one at once.
    cool_down = record.NextCoolDown;
  } else if (record.ConsecutiveFaults >= settings_.FailuresToSetAside) {
    cool_down = std::min(settings_.FirstCoolDown, settings_.MaxCoolDown);
  } else {
    return std::nullopt;
  }
  record.SetAside = true;
  record.SetAsideUntil = now + TickMs(cool_down);
  record.NextCoolDown = Doubled(cool_down, settings_.MaxCoolDown);
  return ProxyHealthChange{ProxyHealthChange::What::SetAside, entry, cool_down, kind,
                           record.ConsecutiveFaults};
}

bool ProxyHealth::IsUsable(const std::string& entry, std::uint32_t now,
                           std::optional<ProxyHealthChange>* returned) {
  std::lock_guard<std::mutex> guard(mutex_);
  const auto found = records_.find(entry);
  if (found == records_.end() || !found->second.SetAside) {
    return true;
  }
  ProxyRecord& record = found->second;
  if (Before(now, record.SetAsideUntil)) {
    return false;
  }
  ProxyHealthChange change = ComeBack(entry, record);
  if (returned != nullptr) {
    *returned = std::move(change);
  }
  return true;
}

ProxyHealthChange ProxyHealth::ComeBack(const std::string& entry, ProxyRecord& record) {
  record.SetAside = false;
  record.OnTrial = true;
  record.TrialTaken = false;
  return ProxyHealthChange{
      ProxyHealthChange::What::Returned, entry, {}, FailureKind::None, record.ConsecutiveFaults};
}

ProxyGrant ProxyHealth::TakeTurn(const std::string& entry, std::uint32_t now) {
  std::lock_guard<std::mutex> guard(mutex_);
  ProxyGrant grant;
  const auto found = records_.find(entry);
  if (found == records_.end()) {
    grant.Granted = true;
    return grant;
  }
  ProxyRecord& record = found->second;
  if (record.SetAside) {
    if (Before(now, record.SetAsideUntil)) {
      return grant;
    }
    grant.Returned = ComeBack(entry, record);
  }
  if (record.OnTrial) {
    if (record.TrialTaken && Before(now, record.TrialTakenUntil)) {
      return grant;  // another worker's trial is out
    }
    record.TrialTaken = true;
    record.TrialTakenUntil = now + TickMs(settings_.TrialTimeout);
    grant.Trial = true;
  }
  grant.Granted = true;
  return grant;
}

void ProxyHealth::ReleaseTrial(const std::string& entry) {
  std::lock_guard<std::mutex> guard(mutex_);
  const auto found = records_.find(entry);
  if (found != records_.end() && found->second.OnTrial) {
    found->second.TrialTaken = false;
  }
}

std::uint32_t ProxyHealth::WaitOf(const ProxyRecord& record, std::uint32_t now) {
  if (record.SetAside) {
    return Before(now, record.SetAsideUntil) ? record.SetAsideUntil - now : 0;
  }
  if (record.OnTrial && record.TrialTaken && Before(now, record.TrialTakenUntil)) {
    return record.TrialTakenUntil - now;
  }
  return 0;
}

std::uint32_t ProxyHealth::WaitFor(const std::string& entry, std::uint32_t now) const {
  std::lock_guard<std::mutex> guard(mutex_);
  const auto found = records_.find(entry);
  return found == records_.end() ? 0 : WaitOf(found->second, now);
}

std::size_t ProxyHealth::SoonestBack(const std::vector<std::string>& entries,
                                     std::uint32_t now) const {
  std::lock_guard<std::mutex> guard(mutex_);
  std::size_t soonest = 0;
  std::uint32_t soonest_wait = UINT32_MAX;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const auto found = records_.find(entries[i]);
    const std::uint32_t wait = found == records_.end() ? 0 : WaitOf(found->second, now);
    if (wait < soonest_wait) {
      soonest = i;
      soonest_wait = wait;
    }
  }
  return soonest;
}

std::map<std::string, ProxyRecord> ProxyHealth::Records() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return records_;
}

std::string ProxyDisplayName(const std::string& entry) {
  ProxySettings settings;
  ApplyProxy(settings, entry);
  if (settings.Host.empty()) {
    return std::string();
  }
  return settings.Host + ":" + std::to_string(settings.Port);
}

std::string ProxyHealthAccountText(const std::map<std::string, ProxyRecord>& records,
                                   std::uint32_t now) {
  int working = 0;
  int set_aside = 0;
  for (const auto& [entry, record] : records) {
    if (record.Requests == 0) {
      continue;
    }
    if (record.SetAside && Before(now, record.SetAsideUntil)) {
      ++set_aside;
    } else {
      ++working;
    }
  }
  if (working + set_aside == 0) {
    return std::string();
  }
  return "прокси: работают " + std::to_string(working) + ", отложено " + std::to_string(set_aside);
}

std::string ProxyFaultText(FailureKind kind) {
  switch (kind) {
    case FailureKind::ConnectFailed:
      return "не удаётся подключиться";
    case FailureKind::ProxyCredentials:
      return "прокси не принимает логин и пароль";
    case FailureKind::ProxyStatus:
      return "прокси отвечает ошибкой";
    case FailureKind::TimedOutBeforeResponse:
      return "нет ответа в отведённое время";
    default:
      return "ошибка запроса";
  }
}

std::string ProxyHealthChangeText(const ProxyHealthChange& change) {
  const std::string name = "Прокси " + ProxyDisplayName(change.Entry);
  if (change.Change == ProxyHealthChange::What::Returned) {
    return name + " снова в работе";
  }
  return name + " отложен на " + CoolDownText(change.CoolDown) + ": " +
         ProxyFaultText(change.Reason) +
         ", ошибок подряд: " + std::to_string(change.ConsecutiveFaults);
}

std::optional<std::string> ProxyHealthSummaryText(
    const std::vector<std::string>& entries, const std::map<std::string, ProxyRecord>& at_start,
    const std::map<std::string, ProxyRecord>& at_end, std::uint32_t now) {
  int used = 0;
  int working = 0;
  int set_aside = 0;
  std::vector<std::pair<long long, const std::string*>> failing;
  for (const std::string& entry : entries) {
    const auto found = at_end.find(entry);
    if (found == at_end.end()) {
      continue;
    }
    const ProxyRecord& record = found->second;
    const auto before = at_start.find(entry);
    const bool known_before = before != at_start.end();
    const long long requests = record.Requests - (known_before ? before->second.Requests : 0);
    if (requests == 0) {
      continue;
    }
    ++used;
    if (record.SetAside && Before(now, record.SetAsideUntil)) {
      ++set_aside;
    } else {
      ++working;
    }
    const long long faults =
        record.ProxyFaults() - (known_before ? before->second.ProxyFaults() : 0);
    if (faults > 0) {
      failing.emplace_back(faults, &entry);
    }
  }
  if (used == 0) {
    return std::nullopt;
  }
  // Most faults first; the list's order among equals.
  std::stable_sort(failing.begin(), failing.end(),
                   [](const auto& a, const auto& b) { return a.first > b.first; });
  std::string text = "Прокси: использовано " + std::to_string(used) + ", работают " +
                     std::to_string(working) + ", отложено " + std::to_string(set_aside);
  constexpr std::size_t kWorstShown = 3;
  for (std::size_t i = 0; i < failing.size() && i < kWorstShown; ++i) {
    text += i == 0 ? "; больше всего ошибок: " : ", ";
    text += ProxyDisplayName(*failing[i].second) + " (" + std::to_string(failing[i].first) + ")";
  }
  return text;
}

}  // namespace mirava::engine
