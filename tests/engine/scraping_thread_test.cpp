#include "engine/scraping_thread.h"

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/engine/worker_fixture.h"
#include "tests/support/fake_site.h"

namespace mirava::testing::worker {
namespace {

using engine::TScrapingThread;

class ScrapingThreadTest : public WorkerTest {};

std::string Line(const std::string& message) {
  return std::string(kStamp) + ": " + message;
}

TEST_F(ScrapingThreadTest, PageThatLoadsAtOnce) {
  FakeSite site;
  // Bytes that are not UTF-8 stay as they came: the page readers decode what they cut out.
  const std::string page = "<html>\xCA\xE0\xF4\xE5 caf\xC3\xA9</html>";
  site.Serve("/moskva/kafe/", FakeResponse::Page(page));
  auto worker = MakeWorker(site.Url("/moskva/kafe/"));
  RunToEnd(*worker);

  EXPECT_EQ(worker->result, engine::FetchOutcome::Fetched);
  EXPECT_EQ(worker->statusText, "успешно");
  EXPECT_EQ(worker->html, page);
  EXPECT_EQ(Log(), std::vector<std::string>{Line("Запускаем " + site.Url("/moskva/kafe/"))});
  EXPECT_EQ(site.RequestCount(), 1u);
  EXPECT_NE(pacing_->LastRequestTick.load(), 0u) << "a direct request ends its turn";
}

TEST_F(ScrapingThreadTest, ServerErrorOnEveryAttemptGivesUpAfterFifty) {
  FakeSite site;
  site.SetFallback(FakeResponse::Error(500));
  const std::string url = site.Url("/spb/metro/kafe/");
  auto worker = MakeWorker(url);
  RunToEnd(*worker);

  EXPECT_EQ(worker->result, engine::FetchOutcome::Failed);
  EXPECT_EQ(worker->statusText, "ERROR_HTTP/1.1 500 Internal Server Error");
  EXPECT_EQ(worker->html, "");
  EXPECT_EQ(worker->url, url);
  EXPECT_EQ(CountLines(": Запускаем " + url), 50u);
  EXPECT_EQ(CountLines(": Ответ сайта для " + url + ": ERROR_HTTP/1.1 500 Internal Server Error"),
            50u);
  EXPECT_EQ(Log().size(), 100u);
  const auto requests = site.Requests();
  ASSERT_EQ(requests.size(), 50u);
  // Every attempt after a failure on a connection of its own.
  for (std::size_t i = 0; i < requests.size(); ++i) {
    EXPECT_EQ(requests[i].Connection, static_cast<int>(i) + 1);
  }
}

TEST_F(ScrapingThreadTest, NotFoundRewritesTheAddressOrGivesUp) {
  struct Case {
    std::string start;
    std::vector<std::string> requested;
  };
  const std::vector<Case> cases = {
      {"/msk/metro/park/", {"/msk/metro/park/", "/msk/rayon/park/"}},
      {"/msk/metro/park/type/kafe/",
       {"/msk/metro/park/type/kafe/", "/msk/rayon/park/type/kafe/", "/msk/rayon/park/type-kafe/"}},
      {"/msk/type/kafe/type/", {"/msk/type/kafe/type/", "/msk/type-kafe/type-"}},
      {"/metro/a/metro/b/", {"/metro/a/metro/b/", "/rayon/a/rayon/b/"}},
      {"/msk/kafe/", {"/msk/kafe/"}},
  };
  for (const Case& item : cases) {
    SCOPED_TRACE(item.start);
    FakeSite site;  // every path is missing
    ClearLog();
    auto worker = MakeWorker(site.Url(item.start));
    RunToEnd(*worker);

    EXPECT_EQ(site.Paths(), item.requested);
    EXPECT_EQ(worker->result, engine::FetchOutcome::Failed);
    EXPECT_EQ(worker->statusText, "ERROR_HTTP/1.1 404 Not Found");
    EXPECT_EQ(worker->url, site.Url(item.requested.back()));
    // Announced and answered once per attempt; no line of its own for giving up.
    EXPECT_EQ(Log().size(), 2 * item.requested.size());
    for (const auto& request : site.Requests()) {
      EXPECT_EQ(request.Header("Referer"), site.Url(item.start));
    }
    ForgetFinished();
  }
}

TEST_F(ScrapingThreadTest, RewrittenAddressThatExistsIsFetched) {
  FakeSite site;
  site.Serve("/msk/rayon/park/", FakeResponse::Page("district"));
  auto worker = MakeWorker(site.Url("/msk/metro/park/"));
  RunToEnd(*worker);
  EXPECT_EQ(worker->result, engine::FetchOutcome::Fetched);
  EXPECT_EQ(worker->html, "district");
  EXPECT_EQ(worker->url, site.Url("/msk/rayon/park/"));
  EXPECT_EQ(Log(), (std::vector<std::string>{
                       Line("Запускаем " + site.Url("/msk/metro/park/")),
                       Line("Ответ сайта для " + site.Url("/msk/metro/park/") +
                            ": ERROR_HTTP/1.1 404 Not Found"),
                       Line("Запускаем " + site.Url("/msk/rayon/park/")),
                   }));
}

TEST_F(ScrapingThreadTest, RefusalPausesBeforeTheNextAttempt) {
  // By code or by text: a reason phrase of the site's own still counts.
  for (const std::string reason : {"", "Access Denied"}) {
    SCOPED_TRACE(reason);
    FakeSite site;
    site.ServeSequence("/page", {FakeResponse::Error(403, reason), FakeResponse::Page("ok")});
    const std::size_t pauses_before = CountSleeps(400);
    auto worker = MakeWorker(site.Url("/page"));
    RunToEnd(*worker);
    EXPECT_EQ(worker->result, engine::FetchOutcome::Fetched);
    EXPECT_EQ(site.RequestCount(), 2u);
    EXPECT_EQ(CountSleeps(400), pauses_before + 1);
    ForgetFinished();
  }
}

TEST_F(ScrapingThreadTest, RateLimitPausesFiveMinutesAfterTheLastDirectRequest) {
  FakeSite site;
  std::vector<std::uint32_t> arrival_ticks;
  std::mutex ticks_mutex;
  site.SetHandler([&](const RecordedRequest&) -> std::optional<FakeResponse> {
    std::lock_guard<std::mutex> guard(ticks_mutex);
    arrival_ticks.push_back(clock_->TickCount());
    return std::nullopt;
  });
  site.ServeSequence("/page", {FakeResponse::Error(429), FakeResponse::Page("ok")});
  auto worker = MakeWorker(site.Url("/page"));
  RunToEnd(*worker);

  EXPECT_EQ(worker->result, engine::FetchOutcome::Fetched);
  EXPECT_EQ(CountLines(": Делаем паузу 5 минут"), 1u);
  ASSERT_EQ(arrival_ticks.size(), 2u);
  // The first request ended at its arrival tick (the fake clock only moves on sleeps).
  EXPECT_GE(arrival_ticks[1] - arrival_ticks[0], 300000u);
  EXPECT_LT(arrival_ticks[1] - arrival_ticks[0], 300000u + 200);
  EXPECT_EQ(CountSleeps(100), 3000u);
}

// The fake clock, plus something that happens after a given number of sleeps.
class ClockWithEvent final : public platform::IClock {
 public:
  ClockWithEvent(std::shared_ptr<FakeClock> clock, std::size_t after_sleeps,
                 std::function<void()> event)
      : clock_(std::move(clock)), after_sleeps_(after_sleeps), event_(std::move(event)) {}
  std::uint32_t TickCount() override { return clock_->TickCount(); }
  void SleepMs(std::uint32_t ms) override {
    clock_->SleepMs(ms);
    if (++sleeps_ == after_sleeps_) {
      event_();
    }
  }

 private:
  std::shared_ptr<FakeClock> clock_;
  std::size_t after_sleeps_;
  std::function<void()> event_;
  std::size_t sleeps_ = 0;
};

TEST_F(ScrapingThreadTest, RateLimitPauseCountsFromAnyWorkersLastRequest) {
  FakeSite site;
  site.ServeSequence("/page", {FakeResponse::Error(429), FakeResponse::Page("ok")});
  // Another worker's direct request ends 100 s into the pause.
  services_->Clock = std::make_shared<ClockWithEvent>(
      clock_, 1000, [this] { pacing_->LastRequestTick.store(clock_->TickCount()); });
  const std::uint32_t start = clock_->TickCount();
  auto worker = MakeWorker(site.Url("/page"));
  RunToEnd(*worker);
  EXPECT_EQ(worker->result, engine::FetchOutcome::Fetched);
  EXPECT_EQ(clock_->TickCount() - start, 400000u);
}

TEST_F(ScrapingThreadTest, StopEndsTheRateLimitPause) {
  FakeSite site;
  site.SetFallback(FakeResponse::Error(429));
  Fetch().RateLimitPause = std::chrono::milliseconds(0xFFFFFFFFu);  // would not end by itself
  auto worker = MakeWorker(site.Url("/page"));
  worker->Start();
  ASSERT_TRUE(WaitFor([&] { return CountLines("Делаем паузу") == 1; }));
  worker->Stop();
  ASSERT_TRUE(WaitFor([&] { return IsFinished(*worker); }));
  EXPECT_EQ(worker->result, engine::FetchOutcome::Failed);
  EXPECT_EQ(worker->statusText, "ERROR_HTTP/1.1 429 Too Many Requests");
  EXPECT_EQ(site.RequestCount(), 1u);
}

TEST_F(ScrapingThreadTest, RateLimitOnTheLastAttemptStillPauses) {
  FakeSite site;
  site.SetFallback(FakeResponse::Error(429));
  Fetch().RateLimitPause = std::chrono::milliseconds(1000);
  auto worker = MakeWorker(site.Url("/page"));
  RunToEnd(*worker);
  EXPECT_EQ(site.RequestCount(), 50u);
  EXPECT_EQ(CountLines(": Делаем паузу 5 минут"), 50u);
  EXPECT_EQ(Log().back(), Line("Делаем паузу 5 минут"));
  EXPECT_GE(clock_->TickCount() - pacing_->LastRequestTick.load(), 1000u);
}

TEST_F(ScrapingThreadTest, ClosedConnectionInDirectModeIsAnOrdinaryFailure) {
  FakeSite site;
  site.ServeSequence("/page", {FakeResponse::Close(), FakeResponse::Page("ok")});
  auto worker = MakeWorker(site.Url("/page"));
  RunToEnd(*worker);
  EXPECT_EQ(worker->result, engine::FetchOutcome::Fetched);
  EXPECT_EQ(CountLines(": Запускаем "), 2u);
  EXPECT_EQ(CountLines("ERROR_Connection Closed Gracefully."), 1u);
  EXPECT_EQ(site.RequestCount(), 2u);
}

TEST_F(ScrapingThreadTest, StopBeforeTheFirstAttempt) {
  FakeSite site;
  site.Serve("/page", FakeResponse::Page("ok"));
  auto worker = MakeWorker(site.Url("/page"));
  worker->Stop();
  RunToEnd(*worker);
  EXPECT_EQ(worker->result, engine::FetchOutcome::Stopped);
  EXPECT_EQ(worker->statusText, "");
  EXPECT_EQ(worker->html, "");
  EXPECT_TRUE(Log().empty());
  EXPECT_EQ(site.RequestCount(), 0u);
}

TEST_F(ScrapingThreadTest, StopDuringThePacingWaitStillSendsTheRequest) {
  struct Case {
    FakeResponse response;
    engine::FetchOutcome result;
    std::string status;
  };
  const std::vector<Case> cases = {
      {FakeResponse::Page("ok"), engine::FetchOutcome::Stopped, ""},  // the answer is dropped
      {FakeResponse::Error(500), engine::FetchOutcome::Failed,
       "ERROR_HTTP/1.1 500 Internal Server Error"},
  };
  for (const Case& item : cases) {
    SCOPED_TRACE(item.status);
    FakeSite site;
    site.Serve("/page", item.response);
    pacing_->LastRequestTick.store(clock_->TickCount());
    auto worker = MakeWorker(site.Url("/page"));
    worker->RequestInterval = 0xFFFFFFF0u;
    const std::size_t polls_before = CountSleeps(100);
    worker->Start();
    ASSERT_TRUE(WaitFor([&] { return CountSleeps(100) > polls_before; }));
    worker->Stop();
    ASSERT_TRUE(WaitFor([&] { return IsFinished(*worker); }));
    EXPECT_EQ(site.RequestCount(), 1u);
    EXPECT_EQ(worker->result, item.result);
    EXPECT_EQ(worker->statusText, item.status);
    EXPECT_EQ(worker->html, "");
    EXPECT_EQ(CountLines(": Запускаем "), 1u);
    ClearLog();
    ForgetFinished();
  }
}

// A stop must not wait for the read time-out: the transfer under way is broken off, and what it
// did not get is nobody's failure, so no line says the site failed. A request the worker still
// sends after a stop (it had won its pacing turn) gets a moment for its answer, no more.
TEST_F(ScrapingThreadTest, StopBreaksOffATransferThatWaitsForTheSite) {
  FakeResponse stalls_mid_body = FakeResponse::Page(std::string(10000, 'a'));
  stalls_mid_body.StallMidBody = std::chrono::seconds(40);
  FakeResponse drips = FakeResponse::Page(std::string(400, 'd'));  // 40 s, never silent
  drips.DripEvery = std::chrono::milliseconds(100);
  struct Case {
    const char* name;
    FakeResponse response;
    bool stop_while_paced;  // else during the transfer
  };
  const Case cases[] = {
      {"nothing of the answer arrives", FakeResponse::Silence(std::chrono::seconds(40)), false},
      {"the body stops halfway", stalls_mid_body, false},
      {"the body drips", drips, false},
      {"stopped while paced, then the body drips", drips, true},
  };
  Fetch().ReadTimeout = std::chrono::seconds(30);
  for (const Case& item : cases) {
    SCOPED_TRACE(item.name);
    ClearLog();
    FakeSite site;
    site.Serve("/page", item.response);
    auto worker = MakeWorker(site.Url("/page"));
    std::chrono::steady_clock::time_point stopped_at;
    if (item.stop_while_paced) {
      pacing_->LastRequestTick.store(clock_->TickCount());
      worker->RequestInterval = 0xFFFFFFF0u;
      const std::size_t polls_before = CountSleeps(100);
      worker->Start();
      ASSERT_TRUE(WaitFor([&] { return CountSleeps(100) > polls_before; }));
      stopped_at = std::chrono::steady_clock::now();
      worker->Stop();
      ASSERT_TRUE(site.WaitForRequests(1, std::chrono::seconds(30))) << "the request still goes";
    } else {
      worker->Start();
      ASSERT_TRUE(site.WaitForRequests(1, std::chrono::seconds(30)));
      std::this_thread::sleep_for(std::chrono::milliseconds(300));  // well into the transfer
      stopped_at = std::chrono::steady_clock::now();
      worker->Stop();
    }
    ASSERT_TRUE(WaitFor([&] { return IsFinished(*worker); }, std::chrono::seconds(60)));
    EXPECT_LT(std::chrono::steady_clock::now() - stopped_at, std::chrono::seconds(5))
        << "the stop waited for the transfer's end";
    EXPECT_EQ(worker->result, engine::FetchOutcome::Stopped);
    EXPECT_EQ(worker->statusText, "");
    EXPECT_EQ(worker->html, "");
    EXPECT_EQ(Log(), std::vector<std::string>{Line("Запускаем " + site.Url("/page"))});
    EXPECT_EQ(site.RequestCount(), 1u);
    worker.reset();
    ForgetFinished();
  }
}

TEST_F(ScrapingThreadTest, DirectRequestsWaitTheirIntervalFromTheLastRequest) {
  FakeSite site;
  std::vector<std::uint32_t> arrival_ticks;
  std::mutex ticks_mutex;
  site.SetHandler([&](const RecordedRequest&) -> std::optional<FakeResponse> {
    std::lock_guard<std::mutex> guard(ticks_mutex);
    arrival_ticks.push_back(clock_->TickCount());
    return FakeResponse::Page("ok");
  });
  pacing_->LastRequestTick.store(clock_->TickCount());
  auto first = MakeWorker(site.Url("/a"));
  first->RequestInterval = 10000;
  RunToEnd(*first);
  auto second = MakeWorker(site.Url("/b"));
  second->RequestInterval = 10000;
  RunToEnd(*second);
  ASSERT_EQ(arrival_ticks.size(), 2u);
  EXPECT_GE(arrival_ticks[1] - arrival_ticks[0], 10000u);
  EXPECT_LE(arrival_ticks[1] - arrival_ticks[0], 10100u);
}

TEST_F(ScrapingThreadTest, BodyOverTheCapFailsEveryAttempt) {
  FakeSite site;
  site.Serve("/huge", FakeResponse::Page(std::string(2048, 'x')));
  Fetch().MaxBodyBytes = 1024;
  Fetch().MaxAttempts = 3;
  auto worker = MakeWorker(site.Url("/huge"));
  RunToEnd(*worker);
  EXPECT_EQ(worker->result, engine::FetchOutcome::Failed);
  EXPECT_EQ(worker->statusText, "ERROR_Ответ сайта больше 1024 байт");
  EXPECT_EQ(worker->html, "");
  EXPECT_EQ(site.RequestCount(), 3u);
}

TEST_F(ScrapingThreadTest, FetchesOverTlsWithTheTestAuthority) {
  FakeSite site(TestCertificates::Shared());
  site.Serve("/page", FakeResponse::Page("secure"));
  auto worker = MakeWorker(site.Url("/page"));
  RunToEnd(*worker);
  EXPECT_EQ(worker->result, engine::FetchOutcome::Fetched);
  EXPECT_EQ(worker->html, "secure");
}

// A front end that refuses every event is the coordinator's to report: the worker never sees it.
TEST_F(ScrapingThreadTest, AFrontEndThatRefusesEveryEventDoesNotStopTheWorker) {
  FakeSite site;
  site.Serve("/page", FakeResponse::Page("ok"));
  window_.events->FailEvents([](const std::string&) { return "window gone"; });
  auto worker = MakeWorker(site.Url("/page"));
  RunToEnd(*worker);
  EXPECT_EQ(worker->result, engine::FetchOutcome::Fetched);
  EXPECT_EQ(worker->html, "ok");
  EXPECT_EQ(site.RequestCount(), 1u);
  EXPECT_EQ(services_->Events->TakeRefusal(), "window gone");
}

TEST_F(ScrapingThreadTest, DestroyingARunningWorkerStopsAndWaitsForIt) {
  FakeSite site;
  FakeResponse slow_error = FakeResponse::Error(500);
  slow_error.Delay = std::chrono::milliseconds(100);
  site.SetFallback(slow_error);
  auto worker = MakeWorker(site.Url("/page"));
  worker->Start();
  ASSERT_TRUE(site.WaitForRequests(1, std::chrono::seconds(30)));
  worker.reset();  // must not hang, must not crash
  EXPECT_LT(site.RequestCount(), 50u);
  std::lock_guard<std::mutex> guard(lists_->WorkerListsLock);
  EXPECT_EQ(lists_->FinishedList.size(), 1u);
}

}  // namespace
}  // namespace mirava::testing::worker
