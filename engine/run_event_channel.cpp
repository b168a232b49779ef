#include "engine/run_event_channel.h"

#include <algorithm>
#include <utility>

#include "analysis/text_encoding.h"
#include "engine/log_line.h"
#include "engine/platform/local_time.h"

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

void RunEventChannel::Busy(bool busy) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (busy) {
    lines_.clear();
  }
  events_->BusyChanged(busy);
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
  events_->LogLine(line);
  lines_.push_back(std::move(line));
}

void RunEventChannel::Progress(const RunProgress& progress) {
  std::lock_guard<std::mutex> guard(mutex_);
  events_->ProgressChanged(progress);
}

void RunEventChannel::AutoPauseArmed(std::chrono::milliseconds delay) {
  std::lock_guard<std::mutex> guard(mutex_);
  events_->AutoPauseArmed(delay);
}

void RunEventChannel::PagesUnrecognised(const std::string& message) {
  std::lock_guard<std::mutex> guard(mutex_);
  events_->PagesUnrecognised(message);
}

void RunEventChannel::Ended(RunOutcome outcome, const std::string& message) {
  std::lock_guard<std::mutex> guard(mutex_);
  events_->RunEnded(outcome, message);
}

std::string RunEventChannel::LogText() const {
  std::lock_guard<std::mutex> guard(mutex_);
  std::string text;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (i > 0) {
      text += '\n';
    }
    text += PaneText(lines_[i]);
  }
  return text;
}

}  // namespace mirava::engine
