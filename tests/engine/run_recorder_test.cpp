// How often the run's files are made durable: one write per finished page, a sync of the results
// file and then the journal at most a second apart, and at once when the run closes or waits.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/run_recorder.h"
#include "tests/support/fake_clock.h"

namespace mirava::engine {
namespace {

// Every write and sync of both files, in order: "journal write", "results sync", ...
struct Calls {
  std::vector<std::string> list;
  int Count(const std::string& call) const {
    return static_cast<int>(std::count(list.begin(), list.end(), call));
  }
};

class CountingSink : public platform::IByteSink {
 public:
  CountingSink(std::string name, std::shared_ptr<Calls> calls)
      : name_(std::move(name)), calls_(std::move(calls)) {}
  void Write(std::string_view) override { calls_->list.push_back(name_ + " write"); }
  void Sync() override { calls_->list.push_back(name_ + " sync"); }
  void Close() override { calls_->list.push_back(name_ + " close"); }

 private:
  std::string name_;
  std::shared_ptr<Calls> calls_;
};

TEST(RunRecorderTest, SyncsBothFilesAtMostEverySecondAndAtClose) {
  auto calls = std::make_shared<Calls>();
  auto clock = std::make_shared<testing::FakeClock>(5000);
  output::ResultsWriter results(std::make_unique<CountingSink>("results", calls));
  RunRecorder recorder(std::make_unique<CountingSink>("journal", calls), clock);
  RunRequest request;
  request.Cities = {std::string("http://127.0.0.1/a/")};
  request.Categories = {std::string("x/")};
  recorder.Begin(request, {"http://127.0.0.1/a/x/"});
  analysis::CategoryByUrl categories;
  int worker = 0;
  calls->list.clear();

  // Many pages within one second: one journal write each, no sync.
  for (int page = 0; page < 50; ++page) {
    recorder.WorkerStarted(&worker, "http://127.0.0.1/a/x/");
    recorder.Queued("http://127.0.0.1/org/" + std::to_string(page));
    recorder.PageFinished(&worker, true, categories);
    recorder.SyncIfDue(&results);
    clock->Advance(10);
  }
  EXPECT_EQ(calls->Count("journal write"), 50);
  EXPECT_EQ(calls->Count("journal sync"), 0);

  // A second after the last sync: the results file first, then the journal.
  clock->Advance(600);
  calls->list.clear();
  recorder.SyncIfDue(&results);
  EXPECT_EQ(calls->list, (std::vector<std::string>{"results sync", "journal sync"}));
  // Nothing new: nothing to sync, however long it waits.
  clock->Advance(5000);
  recorder.SyncIfDue(&results);
  EXPECT_EQ(calls->list.size(), 2u);

  // A waiting run syncs what it has at once; closing syncs and closes the journal.
  recorder.WorkerStarted(&worker, "http://127.0.0.1/org/1");
  recorder.PageFinished(&worker, false, categories);
  recorder.SyncIfDue(&results, true);
  EXPECT_EQ(calls->Count("journal sync"), 2);
  recorder.RunComplete();
  calls->list.clear();
  recorder.Close(&results);
  EXPECT_EQ(calls->list,
            (std::vector<std::string>{"results sync", "journal sync", "journal close"}));
}

}  // namespace
}  // namespace mirava::engine
