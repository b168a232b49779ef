#include "engine/run_event_channel.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "analysis/text_encoding.h"
#include "engine/log_line.h"
#include "platform/local_time.h"

namespace mirava::engine {

namespace {

// What the pane gives back for a line: its breaks become line ends, and the characters a text
// pane stores as separators or shows as plain spaces come back as such.
std::string PaneText(const std::string& line) {
  std::u16string text = analysis::Utf8ToUtf16(line);
  std::u16string shown;
  shown.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c == u'\r') {
      if (i + 1 < text.size() && text[i + 1] == u'\n') {
        ++i;
      }
      shown += u'\n';
    } else if (c == 0x2028 || c == 0x2029 || c == 0xFDD0 || c == 0xFDD1) {
      shown += u'\n';
    } else if (c == 0x00A0) {
      shown += u' ';
    } else {
      shown += c;
    }
  }
  return analysis::Utf16ToUtf8(shown);
}

}  // namespace

std::string ProgressHint(int position, int maximum) {
  const int shown_maximum = std::max(maximum, 0);
  const int shown_position = std::clamp(position, 0, shown_maximum);
  return std::to_string(shown_position) + " из " + std::to_string(shown_maximum) + ", осталось " +
         std::to_string(shown_maximum - shown_position);
}

RunEventChannel::RunEventChannel(std::shared_ptr<IRunEvents> events, LogTimestampSource timestamp)
    : events_(std::move(events)), timestamp_(std::move(timestamp)) {
  if (!timestamp_) {
    timestamp_ = [] { return platform::LocalLogTimestamp(); };
  }
}

template <typename Event>
bool RunEventChannel::Deliver(Event&& event) {
  try {
    event(*events_);
    return true;
  } catch (const std::exception& error) {
    if (!refusal_) {
      refusal_ = error.what();
    }
  } catch (...) {
    if (!refusal_) {
      refusal_ = "неизвестная ошибка";
    }
  }
  return false;
}

std::optional<std::string> RunEventChannel::TakeRefusal() {
  std::lock_guard<std::mutex> guard(mutex_);
  return std::exchange(refusal_, std::nullopt);
}

void RunEventChannel::Busy(bool busy) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (busy) {
    pending_.clear();
  }
  Deliver([busy](IRunEvents& events) { events.BusyChanged(busy); });
}

void RunEventChannel::Line(std::string_view message) {
  std::lock_guard<std::mutex> guard(mutex_);
  Emit(FormatLogLine(timestamp_(), message));
}

void RunEventChannel::WorkerLine(std::string_view proxy, std::string_view message) {
  std::lock_guard<std::mutex> guard(mutex_);
  Emit(FormatWorkerLogLine(timestamp_(), proxy, message));
}

void RunEventChannel::Emit(std::string line) {
  // Announced first: a line the front end refused was never shown, so it is not kept either.
  if (!Deliver([&line](IRunEvents& events) { events.LogLine(line); })) {
    return;
  }
  if (log_closed_) {
    return;
  }
  if (!log_) {
    pending_.push_back(PaneText(line));
    return;
  }
  try {
    log_->WriteLine(PaneText(line));
  } catch (const std::exception& error) {
    log_failure_ = error.what();
    log_.reset();
    log_closed_ = true;
  }
}

void RunEventChannel::AttachLog(std::unique_ptr<output::RunLogWriter> log) {
  std::lock_guard<std::mutex> guard(mutex_);
  log_ = std::move(log);
  log_closed_ = false;
  for (const std::string& line : pending_) {
    log_->WriteLine(line);
  }
  pending_.clear();
  pending_.shrink_to_fit();
}

void RunEventChannel::SyncLog() {
  std::lock_guard<std::mutex> guard(mutex_);
  ThrowLogFailure();
  if (log_) {
    log_->Sync();
  }
}

void RunEventChannel::CloseLog() {
  std::lock_guard<std::mutex> guard(mutex_);
  log_closed_ = true;
  pending_.clear();
  ThrowLogFailure();
  if (log_) {
    const std::unique_ptr<output::RunLogWriter> log = std::move(log_);
    log->Sync();
    log->Close();
  }
}

void RunEventChannel::ThrowLogFailure() {
  if (!log_failure_.empty()) {
    // Told once; the log has stopped.
    throw std::runtime_error(std::exchange(log_failure_, std::string()));
  }
}

void RunEventChannel::Progress(const RunProgress& progress) {
  std::lock_guard<std::mutex> guard(mutex_);
  Deliver([&progress](IRunEvents& events) { events.ProgressChanged(progress); });
}

void RunEventChannel::PagesUnrecognised(const std::string& message) {
  std::lock_guard<std::mutex> guard(mutex_);
  Deliver([&message](IRunEvents& events) { events.PagesUnrecognised(message); });
}

void RunEventChannel::BaseUnavailable(const std::string& message) {
  std::lock_guard<std::mutex> guard(mutex_);
  Deliver([&message](IRunEvents& events) { events.BaseUnavailable(message); });
}

void RunEventChannel::Ended(RunOutcome outcome, const std::string& message) {
  std::lock_guard<std::mutex> guard(mutex_);
  Deliver([outcome, &message](IRunEvents& events) { events.RunEnded(outcome, message); });
}

}  // namespace mirava::engine
