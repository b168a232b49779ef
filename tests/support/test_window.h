#pragma once
// A window for tests of the run: a dedicated "window thread" that executes dispatched callbacks
// one at a time, and views that record what the run did to them. Tests read the recorded state
// through the accessors, which take the same lock the views use.
#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/window_link.h"

namespace mirava::testing {

class TestDispatcher final : public engine::IWindowDispatcher {
 public:
  TestDispatcher();
  ~TestDispatcher() override;

  void RunOnWindowThread(const std::function<void()>& callback) override;
  void ProcessPendingMessages() override { ++processed_; }
  std::string LogTimestamp() override;

  void SetTimestamp(std::string timestamp);
  bool OnWindowThread() const { return std::this_thread::get_id() == thread_.get_id(); }
  int ProcessedCount() const { return processed_.load(); }

 private:
  struct Task {
    const std::function<void()>* callback;
    std::exception_ptr error;
    bool done = false;
  };
  void Loop();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable finished_;
  std::deque<Task*> tasks_;
  bool quit_ = false;
  std::string timestamp_ = "10.12.2026 12:00:00";
  std::atomic<int> processed_{0};
  std::thread thread_;
};

// State shared by the views of one test window, guarded by one lock.
struct TestWindowState {
  std::mutex mutex;
  struct Item {
    std::string name;
    std::optional<std::string> value;
    bool selected = false;
  };
  std::vector<Item> cities;
  std::vector<Item> categories;
  bool cities_enabled = true;
  bool categories_enabled = true;
  bool start_enabled = true;
  std::vector<std::string> log;
  int log_clears = 0;
  int progress_max = 100;
  int progress_position = 0;
  std::string progress_hint;
  std::vector<int> timer_arms;  // intervals, in the order armed
  bool use_proxy = false;
  int limit = 1;
  int interval = 0;
  std::vector<std::string> events;  // "enable Start", "disable Cities", "clear log", ...
};

class TestWindow {
 public:
  TestWindow();

  std::shared_ptr<TestDispatcher> dispatcher;
  std::shared_ptr<TestWindowState> state;
  engine::WindowControls Controls() const;

  // Convenience setters and readers, safe from the test thread.
  void AddCity(std::string name, std::optional<std::string> value, bool selected);
  void AddCategory(std::string name, std::optional<std::string> value, bool selected);
  void SetUseProxy(bool on);
  void SetLimit(int threads);
  void SetInterval(int seconds);
  std::vector<std::string> Log() const;
  std::vector<std::string> Events() const;
  std::vector<int> TimerArms() const;
  int ProgressPosition() const;
  int ProgressMax() const;
  std::string ProgressHint() const;
  bool StartEnabled() const;
};

}  // namespace mirava::testing
