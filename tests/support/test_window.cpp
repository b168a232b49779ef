#include "tests/support/test_window.h"

#include <algorithm>
#include <stdexcept>

namespace mirava::testing {

void EventRecorder::FailEvents(FailureRule rule) {
  std::lock_guard<std::mutex> guard(mutex_);
  rule_ = std::move(rule);
}

void EventRecorder::ClearLog() {
  std::lock_guard<std::mutex> guard(mutex_);
  log_.clear();
}

void EventRecorder::Check(const std::string& event) const {
  if (rule_) {
    if (auto message = rule_(event)) {
      throw std::runtime_error(*message);
    }
  }
}

void EventRecorder::BusyChanged(bool busy) {
  std::lock_guard<std::mutex> guard(mutex_);
  Check(busy ? "busy on" : "busy off");
  if (busy) {
    log_.clear();
    events_.push_back("clear log");
  }
  const std::string action = busy ? "disable " : "enable ";
  for (const char* control : {"Start", "Cities", "Cats"}) {
    events_.push_back(action + control);
  }
  start_enabled_ = !busy;
}

void EventRecorder::LogLine(const std::string& line) {
  std::lock_guard<std::mutex> guard(mutex_);
  Check("log " + line);
  log_.push_back(line);
}

void EventRecorder::ProgressChanged(const engine::RunProgress& progress) {
  std::lock_guard<std::mutex> guard(mutex_);
  Check("progress " + std::to_string(progress.Position) + "/" + std::to_string(progress.Maximum));
  maximum_ = std::max(progress.Maximum, 0);
  position_ = std::clamp(progress.Position, 0, maximum_);
  rows_ = progress.Rows;
  hints_.push_back(engine::ProgressHint(progress.Position, progress.Maximum));
}

void EventRecorder::PagesUnrecognised(const std::string& message) {
  std::lock_guard<std::mutex> guard(mutex_);
  Check("pages unrecognised");
  alarms_.push_back(message);
}

void EventRecorder::RunEnded(engine::RunOutcome outcome, const std::string& message) {
  std::lock_guard<std::mutex> guard(mutex_);
  Check("ended");
  outcome_ = outcome;
  end_message_ = message;
}

std::vector<std::string> EventRecorder::Log() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return log_;
}

std::vector<std::string> EventRecorder::Events() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return events_;
}

void EventRecorder::BaseUnavailable(const std::string& message) {
  std::lock_guard<std::mutex> guard(mutex_);
  Check("base unavailable " + message);
  base_failures_.push_back(message);
}

std::vector<std::string> EventRecorder::BaseFailures() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return base_failures_;
}

std::vector<std::string> EventRecorder::Alarms() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return alarms_;
}

std::vector<std::string> EventRecorder::Hints() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return hints_;
}

std::string EventRecorder::ProgressHint() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return hints_.empty() ? std::string() : hints_.back();
}

int EventRecorder::ProgressPosition() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return position_;
}

int EventRecorder::ProgressMax() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return maximum_;
}

long long EventRecorder::Rows() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return rows_;
}

bool EventRecorder::StartEnabled() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return start_enabled_;
}

std::optional<engine::RunOutcome> EventRecorder::Outcome() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return outcome_;
}

std::string EventRecorder::EndMessage() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return end_message_;
}

void TestWindow::AddCity(std::string name, std::optional<std::string> value, bool selected) {
  cities_.push_back({std::move(name), std::move(value), selected});
}

void TestWindow::AddCategory(std::string name, std::optional<std::string> value, bool selected) {
  categories_.push_back({std::move(name), std::move(value), selected});
}

engine::RunRequest TestWindow::Request(const std::string& folder) const {
  engine::RunRequest request;
  for (const Item& item : cities_) {
    if (item.selected) {
      request.Cities.push_back(item.value);
    }
  }
  for (const Item& item : categories_) {
    if (item.selected) {
      request.Categories.push_back(item.value);
    }
  }
  request.ThreadsLimit = limit_;
  request.IntervalSec = interval_;
  request.UseProxy = use_proxy_;
  request.Folder = folder;
  return request;
}

void TestWindow::SelectAllOf(const FakeDirectory& directory, const std::string& origin) {
  for (std::size_t city = 0; city < directory.Cities().size(); ++city) {
    AddCity(directory.Cities()[city].Name, directory.CityValue(origin, city), true);
  }
  for (const DirectoryCategory& category : directory.Categories()) {
    AddCategory(category.Name, category.Path, true);
  }
}

}  // namespace mirava::testing
