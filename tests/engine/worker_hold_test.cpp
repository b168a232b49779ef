// A worker in the middle of a page while its run holds for the operator: it sends nothing more
// until the run goes on, and a stop ends it without a request.
#include <chrono>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "engine/run_hold.h"
#include "tests/engine/worker_fixture.h"
#include "tests/support/fake_site.h"

namespace mirava::testing::worker {
namespace {

class WorkerHoldTest : public WorkerTest {
 protected:
  WorkerHoldTest() { services_->Hold = hold_; }

  std::shared_ptr<engine::RunHold> hold_ = std::make_shared<engine::RunHold>();
};

TEST_F(WorkerHoldTest, SendsNothingWhileTheRunHoldsAndFetchesOnceItGoesOn) {
  FakeSite site;
  site.Serve("/page/", FakeResponse::Page("<html>page</html>"));
  hold_->Set(true);
  auto worker = MakeWorker(site.Url("/page/"));
  worker->Start();
  // Long enough for an unheld worker to have fetched the page many times over.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(site.RequestCount(), 0u);
  EXPECT_FALSE(IsFinished(*worker));

  hold_->Set(false);
  ASSERT_TRUE(WaitFor([&] { return IsFinished(*worker); }));
  EXPECT_EQ(worker->result, engine::FetchOutcome::Fetched);
  EXPECT_EQ(site.RequestCount(), 1u);
}

TEST_F(WorkerHoldTest, AStopWhileHeldEndsTheWorkerWithoutARequest) {
  FakeSite site;
  site.Serve("/page/", FakeResponse::Page("<html>page</html>"));
  hold_->Set(true);
  Fetch().Poll = std::chrono::milliseconds(5);
  auto worker = MakeWorker(site.Url("/page/"));
  worker->Start();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  worker->Stop();
  ASSERT_TRUE(WaitFor([&] { return IsFinished(*worker); }));
  EXPECT_EQ(worker->result, engine::FetchOutcome::Stopped);
  EXPECT_EQ(site.RequestCount(), 0u);
  EXPECT_EQ(CountLines("Ответ сайта"), 0u);
}

}  // namespace
}  // namespace mirava::testing::worker
