#pragma once
// The fetch worker: one page, up to 50 attempts, each failure handled by its own rule, then the
// hand-off from RunningList to FinishedList. Created and destroyed by the coordinator.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/proxy_list.h"
#include "engine/request_pacing.h"
#include "engine/run_event_channel.h"
#include "engine/run_hold.h"
#include "engine/run_timings.h"
#include "engine/worker_lists.h"
#include "platform/clock.h"
#include "platform/named_lock.h"
#include "platform/thread.h"

namespace mirava::engine {

class TlsTrustStore;
class HttpClient;
struct HttpResult;

// Request profile values that tests shorten, and the waits of the failure rules.
struct FetchSettings {
  std::chrono::milliseconds ConnectTimeout = timings::kConnectTimeout;
  // Through a proxy; the shorter of the two applies.
  std::chrono::milliseconds ProxyConnectTimeout = timings::kProxyConnectTimeout;
  std::chrono::milliseconds ReadTimeout = timings::kReadTimeout;
  // Through a proxy, until the answer's first byte; the shorter of it and ReadTimeout applies.
  std::chrono::milliseconds ProxyFirstByteTimeout = timings::kProxyFirstByteTimeout;
  // Verified against this store; null means the system's CA store.
  std::shared_ptr<const TlsTrustStore> TrustStore;
  // A body larger than this, compressed or decoded, fails the attempt.
  std::size_t MaxBodyBytes = timings::kMaxBodyBytes;
  std::chrono::milliseconds RefusalPause = timings::kRefusalPause;
  std::chrono::milliseconds RateLimitPause = timings::kRateLimitPause;
  std::chrono::milliseconds Poll = timings::kStopPoll;
  int MaxAttempts = timings::kMaxAttempts;
};

// What every worker of a run shares; each worker holds it until its thread has ended, so a
// stopped worker that outlives its run still finds all of it.
struct WorkerServices {
  std::shared_ptr<platform::IClock> Clock;
  std::shared_ptr<RunEventChannel> Events;
  std::shared_ptr<PacingState> Pacing;
  std::shared_ptr<const platform::NamedLock> RequestMutex;
  std::shared_ptr<const ProxyList> Proxies;
  std::shared_ptr<ProxyRotation> Rotation;
  FetchSettings Fetch;
  // Set while the run holds for the operator; none: never held.
  std::shared_ptr<const RunHold> Hold;
};

// How a worker's page ended.
enum class FetchOutcome {
  Stopped,  // stopped before any attempt ended
  Fetched,  // html holds the page
  Failed,   // the last attempt failed; statusText says how
};

class TScrapingThread {
 public:
  // Created suspended with empty fields and result Stopped.
  explicit TScrapingThread(std::shared_ptr<const WorkerServices> services);
  // Sets the stop request and waits for the thread.
  ~TScrapingThread();
  TScrapingThread(const TScrapingThread&) = delete;
  TScrapingThread& operator=(const TScrapingThread&) = delete;

  void Start();
  void Stop() { stop_.store(true); }
  bool StopRequested() const { return stop_.load(); }

  // Input fields, written by the coordinator before Start.
  std::shared_ptr<WorkerLists> Lists;  // RunningList, FinishedList and their lock
  std::string url;                     // the worker may rewrite it (page-missing rule)
  bool UseProxy = false;
  std::string proxy;
  std::uint32_t RequestInterval = 0;  // milliseconds

  // Outcome, read by the coordinator once it has found the worker on FinishedList.
  FetchOutcome result = FetchOutcome::Stopped;
  // The page's bytes as received (after gzip/deflate) when result is 1. Kept as UTF-8 bytes, not
  // decoded: the page readers search the bytes and decode only the pieces they cut out.
  std::string html;
  std::string statusText;  // "успешно", or "ERROR_" and the failure text

 private:
  void Execute();
  void RunAttempts(HttpClient& client);
  // One request, paced (direct) or through the current proxy.
  HttpResult Send(HttpClient& client, ProxySettings& proxy_settings, std::string& body);
  // Takes the turn on the current proxy entry. When the rotation handed out an entry that is
  // set aside, or whose trial another worker has, moves on to the rotation's next free entry;
  // when none is free, waits for the one free first, or a stop. Announces an entry that is back.
  void WaitForProxyTurn();
  // Gives back a trial this worker took and will not report.
  void GiveBackTrial();
  // While the run holds, waits until it goes on or the worker is stopped.
  void WaitWhileHeld() const;
  bool Held() const;
  // Counts one request through the proxy of `settings` towards its health.
  void RecordProxyHealth(const ProxySettings& settings, const HttpResult& response);
  static bool IsNotFound(const HttpResult& response);
  // In proxy mode: true when a different proxy answered 404 for this address before; else
  // remembers this one.
  bool NotFoundConfirmed();
  // False when the page-missing rule gives up.
  bool HandleFailure(const HttpResult& failure, HttpClient& client);
  // From RunningList to FinishedList; the last thing that touches the fields.
  void HandOff();
  // One log line, announced at once; nothing waits for the front end.
  void AddLog(const std::string& message);

  std::shared_ptr<const WorkerServices> services_;
  std::atomic<bool> stop_{false};
  bool page_missing_ = false;  // the last attempt found the page missing
  std::string
      not_found_proxy_;  // host:port of the proxy that first answered 404 for not_found_url_
  std::string not_found_url_;
  std::string trial_;  // the entry whose trial request this worker holds
  platform::Thread thread_;
};

}  // namespace mirava::engine
