#include "engine/scraping_thread.h"

#include <algorithm>
#include <exception>
#include <mutex>
#include <optional>
#include <string_view>
#include <utility>

#include "engine/http_client.h"

namespace mirava::engine {

namespace {

// A stop that came while the run held, before the worker's request went out: nothing to report.
struct StoppedWhileHeld {};

bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

std::string ReplaceEvery(std::string_view text, std::string_view old_text,
                         std::string_view new_text) {
  std::string replaced;
  std::size_t from = 0;
  for (std::size_t found; (found = text.find(old_text, from)) != std::string_view::npos;
       from = found + old_text.size()) {
    replaced.append(text.substr(from, found - from)).append(new_text);
  }
  replaced.append(text.substr(from));
  return replaced;
}

}  // namespace

TScrapingThread::TScrapingThread(std::shared_ptr<const WorkerServices> services)
    : services_(std::move(services)) {}

TScrapingThread::~TScrapingThread() {
  Stop();
  if (thread_.Joinable()) {
    thread_.Join();
  }
}

void TScrapingThread::Start() {
  thread_.Start([this] { Execute(); });
}

void TScrapingThread::Execute() {
  // Released only after the hand-off: the client belongs to this thread, not to the fields the
  // coordinator reads.
  std::unique_ptr<HttpClient> client;
  try {
    const FetchSettings& fetch = services_->Fetch;
    HttpClientOptions options;
    options.ConnectTimeoutMs = TickMs(fetch.ConnectTimeout);
    options.ProxyConnectTimeoutMs =
        TickMs(std::min(fetch.ConnectTimeout, fetch.ProxyConnectTimeout));
    options.ReadTimeoutMs = TickMs(fetch.ReadTimeout);
    options.ProxyFirstByteTimeoutMs =
        TickMs(std::min(fetch.ReadTimeout, fetch.ProxyFirstByteTimeout));
    options.StopFlag = &stop_;
    options.TrustStore = fetch.TrustStore;
    options.MaxBodyBytes = fetch.MaxBodyBytes;
    // The Referer of every request stays the address the worker started with.
    client = std::make_unique<HttpClient>(std::move(options), url);
    result = FetchOutcome::Stopped;
    RunAttempts(*client);
  } catch (...) {
    // A failure outside the attempt handling ends the worker with the outcome it has so far.
  }
  GiveBackTrial();
  HandOff();
}

void TScrapingThread::WaitWhileHeld() const {
  if (services_->Hold) {
    services_->Hold->WaitWhileHeld(stop_, services_->Fetch.Poll);
  }
}

bool TScrapingThread::Held() const {
  return services_->Hold && services_->Hold->Held();
}

void TScrapingThread::RunAttempts(HttpClient& client) {
  const FetchSettings& fetch = services_->Fetch;
  ProxySettings proxy_settings;  // what ApplyProxy left from earlier attempts stays
  int attempts = 0;
  while (attempts < fetch.MaxAttempts) {
    if (StopRequested()) {
      return;
    }
    WaitForProxyTurn();
    WaitWhileHeld();
    if (StopRequested()) {
      return;
    }
    HttpResult failure;
    try {
      AddLog("Запускаем " + url);
      html.clear();
      ++attempts;
      if (StopRequested()) {
        return;
      }
      std::string body;  // the response buffer of this attempt
      if (StopRequested()) {
        return;
      }
      HttpResult response = Send(client, proxy_settings, body);
      if (response.Stopped) {
        // Broken off by the stop: nothing failed, the outcome so far stands.
        return;
      }
      if (response.Ok) {
        // A response that returns after a stop is not used.
        if (StopRequested()) {
          return;
        }
        html = std::move(body);
        statusText = "успешно";
        result = FetchOutcome::Fetched;
        return;
      }
      failure = std::move(response);
    } catch (const StoppedWhileHeld&) {
      return;
    } catch (const std::exception& error) {
      failure = HttpResult{false, error.what(), 0, FailureKind::Other};
      page_missing_ = false;
    }
    if (!HandleFailure(failure, client)) {
      return;
    }
  }
}

HttpResult TScrapingThread::Send(HttpClient& client, ProxySettings& proxy_settings,
                                 std::string& body) {
  const WorkerServices& services = *services_;
  if (!UseProxy) {
    for (;;) {
      std::optional<HttpResult> response;
      {
        // The turn ends when this scope does, request failed or not: LastRequestTick moves and
        // the lock is released before the failure is handled.
        RequestTurn turn(*services.RequestMutex, *services.Pacing, *services.Clock, RequestInterval,
                         stop_, TickMs(services.Fetch.Poll));
        // The run may have come to hold while this worker waited for its turn.
        if (!Held()) {
          response = client.Get(url, body);
        }
      }
      if (response) {
        page_missing_ = IsNotFound(*response);
        return std::move(*response);
      }
      WaitWhileHeld();
      if (StopRequested()) {
        throw StoppedWhileHeld{};
      }
    }
  }
  ApplyProxy(proxy_settings, proxy);
  client.SetProxy(proxy_settings);
  HttpResult response = client.Get(url, body);
  if (response.Stopped) {
    return response;  // says nothing about the proxy
  }
  RecordProxyHealth(proxy_settings, response);
  bool repeated = false;
  if (response.Kind == FailureKind::ClosedWithoutResponse) {
    // A proxy that dropped the connection gets one more try at once, within the attempt.
    response = client.Get(url, body);
    if (response.Stopped) {
      return response;
    }
    RecordProxyHealth(proxy_settings, response);
    repeated = true;
  }
  page_missing_ = IsNotFound(response) && NotFoundConfirmed();
  if (!response.Ok && !repeated && !page_missing_) {
    // Only the repeat's failure and a confirmed missing page keep the client's own text.
    response.FailureText = "retry";
  }
  if (response.Ok) {
    MarkProxiedRequest(*services.Pacing, *services.Clock);
  }
  return response;
}

void TScrapingThread::WaitForProxyTurn() {
  if (!UseProxy || proxy.empty() || !services_->Rotation) {
    return;
  }
  // A trial taken for an attempt that never sent it.
  GiveBackTrial();
  ProxyHealth& health = services_->Rotation->Health;
  platform::IClock& clock = *services_->Clock;
  const std::uint32_t poll = std::max<std::uint32_t>(TickMs(services_->Fetch.Poll), 1);
  bool wait_announced = false;
  while (!StopRequested()) {
    std::uint32_t wait = health.WaitFor(proxy, clock.TickCount());
    if (wait > 0 && services_->Proxies) {
      // Set aside, or on another worker's trial, since it was handed out: the rotation's next
      // turn instead, which waits only when no entry is free.
      if (auto turn =
              NextUsableProxy(*services_->Proxies, *services_->Rotation, clock.TickCount())) {
        proxy = std::move(turn->Entry);
        wait = turn->WaitMs;
      }
    }
    if (wait > 0) {
      // Only when no entry is free does the rotation hand one out before its time.
      if (!wait_announced) {
        AddLog("Все прокси отложены, ждём " + std::to_string((wait + 999) / 1000) + " с");
        wait_announced = true;
      }
      for (std::uint32_t before = wait;
           !StopRequested() && (wait = health.WaitFor(proxy, clock.TickCount())) > 0 &&
           wait <= before;
           before = wait) {
        clock.SleepMs(std::min(wait, poll));
      }
      if (wait > 0) {
        continue;  // set aside again after a failed trial: another entry may be back sooner
      }
    }
    if (StopRequested()) {
      return;
    }
    ProxyGrant grant = health.TakeTurn(proxy, clock.TickCount());
    if (grant.Returned) {
      services_->Events->Line(ProxyHealthChangeText(*grant.Returned));
    }
    if (grant.Granted) {
      if (grant.Trial) {
        trial_ = proxy;
      }
      return;
    }
    // Another worker took the entry's trial between the look and the turn.
  }
}

void TScrapingThread::GiveBackTrial() {
  if (trial_.empty() || !services_->Rotation) {
    return;
  }
  try {
    services_->Rotation->Health.ReleaseTrial(trial_);
  } catch (...) {
    // Only a failed lock gets here; the trial's time frees the entry then.
  }
  trial_.clear();
}

void TScrapingThread::RecordProxyHealth(const ProxySettings& settings, const HttpResult& response) {
  if (settings.Host.empty() || !services_->Rotation) {
    return;  // sent directly
  }
  const auto change = services_->Rotation->Health.Record(
      proxy, response.Ok ? FailureKind::None : response.Kind, services_->Clock->TickCount());
  if (trial_ == proxy) {
    trial_.clear();  // its result is in
  }
  if (change) {
    services_->Events->Line(ProxyHealthChangeText(*change));
  }
}

bool TScrapingThread::IsNotFound(const HttpResult& response) {
  return response.Kind == FailureKind::SiteStatus && response.StatusCode == 404;
}

bool TScrapingThread::NotFoundConfirmed() {
  // A proxy may answer 404 itself; the page counts as missing once two different proxies have
  // said so for the same address.
  // Entries that differ only in credentials or spelling are the same proxy.
  const std::string current = ProxyDisplayName(proxy);
  if (!not_found_proxy_.empty() && not_found_url_ == url && not_found_proxy_ != current) {
    return true;
  }
  not_found_proxy_ = current;
  not_found_url_ = url;
  return false;
}

bool TScrapingThread::HandleFailure(const HttpResult& failure, HttpClient& client) {
  const WorkerServices& services = *services_;
  const FetchSettings& fetch = services.Fetch;
  result = FetchOutcome::Failed;
  statusText = "ERROR_" + (failure.FailureText.empty() ? std::to_string(failure.StatusCode)
                                                       : failure.FailureText);
  AddLog("Ответ сайта для " + url + ": " + statusText);
  client.DropConnection();

  // The rules below are separate tests; one failure can meet several of them.
  if (failure.StatusCode == 403) {
    services.Clock->SleepMs(TickMs(fetch.RefusalPause));
  }
  bool go_on = true;
  if (page_missing_) {
    // The site moved some subdivisions; try the newer address shape before giving up.
    if (Contains(url, "/metro/")) {
      url = ReplaceEvery(url, "/metro/", "/rayon/");
    } else if (Contains(url, "/type/")) {
      url = ReplaceEvery(url, "/type/", "/type-");
    } else {
      go_on = false;
    }
  }
  if (failure.StatusCode == 429 && !UseProxy) {
    AddLog("Делаем паузу " + PauseDurationText(timings::kRateLimitPause));
    // Every direct request of any worker, and of any other copy of the program, moves the last
    // request's time, so the pause lasts until the site has had that long without one.
    WaitSinceLatestRequest(*services.RequestMutex, *services.Pacing, *services.Clock,
                           TickMs(fetch.RateLimitPause), stop_, TickMs(fetch.Poll));
  }
  if (UseProxy && services.Proxies && services.Rotation) {
    if (auto next =
            NextUsableProxy(*services.Proxies, *services.Rotation, services.Clock->TickCount())) {
      proxy = std::move(next->Entry);
    }
  }
  return go_on;
}

void TScrapingThread::HandOff() {
  try {
    std::lock_guard<std::mutex> guard(Lists->WorkerListsLock);
    auto& running = Lists->RunningList;
    const auto found = std::find(running.begin(), running.end(), this);
    if (found != running.end()) {
      running.erase(found);
    }
    Lists->FinishedList.push_back(this);
  } catch (...) {
    // Only running out of memory gets here; the thread must still end.
  }
}

void TScrapingThread::AddLog(const std::string& message) {
  services_->Events->WorkerLine(proxy, message);
}

}  // namespace mirava::engine
