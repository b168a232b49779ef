#include "tests/support/test_window.h"

#include <algorithm>
#include <utility>

namespace mirava::testing {

TestDispatcher::TestDispatcher() : thread_([this] { Loop(); }) {}

TestDispatcher::~TestDispatcher() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    quit_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void TestDispatcher::RunOnWindowThread(const std::function<void()>& callback) {
  if (OnWindowThread()) {
    callback();
    return;
  }
  Task task{&callback, nullptr, false};
  std::unique_lock<std::mutex> lock(mutex_);
  tasks_.push_back(&task);
  wake_.notify_all();
  finished_.wait(lock, [&] { return task.done; });
  if (task.error) {
    std::rethrow_exception(task.error);
  }
}

std::string TestDispatcher::LogTimestamp() {
  std::lock_guard<std::mutex> guard(mutex_);
  return timestamp_;
}

void TestDispatcher::SetTimestamp(std::string timestamp) {
  std::lock_guard<std::mutex> guard(mutex_);
  timestamp_ = std::move(timestamp);
}

void TestDispatcher::Loop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [&] { return quit_ || !tasks_.empty(); });
    if (tasks_.empty()) {
      return;
    }
    Task* task = tasks_.front();
    tasks_.pop_front();
    lock.unlock();
    try {
      (*task->callback)();
    } catch (...) {
      task->error = std::current_exception();
    }
    lock.lock();
    task->done = true;
    finished_.notify_all();
  }
}

namespace {

using State = TestWindowState;

class ListView final : public engine::IListBoxView {
 public:
  ListView(std::shared_ptr<State> state, bool cities) : state_(std::move(state)), cities_(cities) {}
  int Count() const override {
    std::lock_guard<std::mutex> guard(state_->mutex);
    return static_cast<int>(Items().size());
  }
  bool IsSelected(int index) const override {
    std::lock_guard<std::mutex> guard(state_->mutex);
    return Items().at(index).selected;
  }
  std::optional<std::string> Value(int index) const override {
    std::lock_guard<std::mutex> guard(state_->mutex);
    return Items().at(index).value;
  }
  void SetEnabled(bool enabled) override {
    std::lock_guard<std::mutex> guard(state_->mutex);
    (cities_ ? state_->cities_enabled : state_->categories_enabled) = enabled;
    state_->events.push_back(std::string(enabled ? "enable " : "disable ") +
                             (cities_ ? "Cities" : "Cats"));
  }

 private:
  const std::vector<State::Item>& Items() const {
    return cities_ ? state_->cities : state_->categories;
  }
  std::shared_ptr<State> state_;
  bool cities_;
};

class LogView final : public engine::ILogView {
 public:
  explicit LogView(std::shared_ptr<State> state) : state_(std::move(state)) {}
  void Clear() override {
    std::lock_guard<std::mutex> guard(state_->mutex);
    state_->log.clear();
    ++state_->log_clears;
    state_->events.push_back("clear log");
  }
  void AppendLine(const std::string& line) override {
    std::lock_guard<std::mutex> guard(state_->mutex);
    state_->log.push_back(line);
  }
  std::string Text() const override {
    std::lock_guard<std::mutex> guard(state_->mutex);
    std::string text;
    for (std::size_t i = 0; i < state_->log.size(); ++i) {
      if (i > 0)
        text += '\n';
      text += state_->log[i];
    }
    return text;
  }

 private:
  std::shared_ptr<State> state_;
};

class ProgressView final : public engine::IProgressView {
 public:
  explicit ProgressView(std::shared_ptr<State> state) : state_(std::move(state)) {}
  void SetMaximum(int maximum) override {
    std::lock_guard<std::mutex> guard(state_->mutex);
    state_->progress_max = maximum;
    state_->progress_position = std::clamp(state_->progress_position, 0, std::max(0, maximum));
  }
  void SetPosition(int position) override {
    std::lock_guard<std::mutex> guard(state_->mutex);
    state_->progress_position = std::clamp(position, 0, std::max(0, state_->progress_max));
  }
  int Position() const override {
    std::lock_guard<std::mutex> guard(state_->mutex);
    return state_->progress_position;
  }
  int Maximum() const override {
    std::lock_guard<std::mutex> guard(state_->mutex);
    return state_->progress_max;
  }
  void SetHint(const std::string& hint) override {
    std::lock_guard<std::mutex> guard(state_->mutex);
    state_->progress_hint = hint;
  }

 private:
  std::shared_ptr<State> state_;
};

class ButtonView final : public engine::IButtonView {
 public:
  explicit ButtonView(std::shared_ptr<State> state) : state_(std::move(state)) {}
  void SetEnabled(bool enabled) override {
    std::lock_guard<std::mutex> guard(state_->mutex);
    state_->start_enabled = enabled;
    state_->events.push_back(enabled ? "enable Start" : "disable Start");
  }

 private:
  std::shared_ptr<State> state_;
};

class TimerView final : public engine::ITimerView {
 public:
  explicit TimerView(std::shared_ptr<State> state) : state_(std::move(state)) {}
  void Arm(int interval_ms) override {
    std::lock_guard<std::mutex> guard(state_->mutex);
    state_->timer_arms.push_back(interval_ms);
  }

 private:
  std::shared_ptr<State> state_;
};

class CheckBoxView final : public engine::ICheckBoxView {
 public:
  explicit CheckBoxView(std::shared_ptr<State> state) : state_(std::move(state)) {}
  bool IsChecked() const override {
    std::lock_guard<std::mutex> guard(state_->mutex);
    return state_->use_proxy;
  }

 private:
  std::shared_ptr<State> state_;
};

class SpinView final : public engine::ISpinEditView {
 public:
  SpinView(std::shared_ptr<State> state, bool limit) : state_(std::move(state)), limit_(limit) {}
  int Value() const override {
    std::lock_guard<std::mutex> guard(state_->mutex);
    return limit_ ? state_->limit : state_->interval;
  }

 private:
  std::shared_ptr<State> state_;
  bool limit_;
};

}  // namespace

TestWindow::TestWindow()
    : dispatcher(std::make_shared<TestDispatcher>()), state(std::make_shared<TestWindowState>()) {}

engine::WindowControls TestWindow::Controls() const {
  engine::WindowControls controls;
  controls.CitiesListBox = std::make_shared<ListView>(state, true);
  controls.CatsListBox = std::make_shared<ListView>(state, false);
  controls.LogsMemo = std::make_shared<LogView>(state);
  controls.ProgressBar = std::make_shared<ProgressView>(state);
  controls.StartButton = std::make_shared<ButtonView>(state);
  controls.ResumeTimer = std::make_shared<TimerView>(state);
  controls.UseProxyCheckBox = std::make_shared<CheckBoxView>(state);
  controls.LimitEdit = std::make_shared<SpinView>(state, true);
  controls.IntervalSpinEdit = std::make_shared<SpinView>(state, false);
  return controls;
}

void TestWindow::AddCity(std::string name, std::optional<std::string> value, bool selected) {
  std::lock_guard<std::mutex> guard(state->mutex);
  state->cities.push_back({std::move(name), std::move(value), selected});
}

void TestWindow::AddCategory(std::string name, std::optional<std::string> value, bool selected) {
  std::lock_guard<std::mutex> guard(state->mutex);
  state->categories.push_back({std::move(name), std::move(value), selected});
}

void TestWindow::SetUseProxy(bool on) {
  std::lock_guard<std::mutex> guard(state->mutex);
  state->use_proxy = on;
}

void TestWindow::SetLimit(int threads) {
  std::lock_guard<std::mutex> guard(state->mutex);
  state->limit = threads;
}

void TestWindow::SetInterval(int seconds) {
  std::lock_guard<std::mutex> guard(state->mutex);
  state->interval = seconds;
}

std::vector<std::string> TestWindow::Log() const {
  std::lock_guard<std::mutex> guard(state->mutex);
  return state->log;
}

std::vector<std::string> TestWindow::Events() const {
  std::lock_guard<std::mutex> guard(state->mutex);
  return state->events;
}

std::vector<int> TestWindow::TimerArms() const {
  std::lock_guard<std::mutex> guard(state->mutex);
  return state->timer_arms;
}

int TestWindow::ProgressPosition() const {
  std::lock_guard<std::mutex> guard(state->mutex);
  return state->progress_position;
}

int TestWindow::ProgressMax() const {
  std::lock_guard<std::mutex> guard(state->mutex);
  return state->progress_max;
}

std::string TestWindow::ProgressHint() const {
  std::lock_guard<std::mutex> guard(state->mutex);
  return state->progress_hint;
}

bool TestWindow::StartEnabled() const {
  std::lock_guard<std::mutex> guard(state->mutex);
  return state->start_enabled;
}

}  // namespace mirava::testing
