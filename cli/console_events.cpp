#include "cli/console_events.h"

#include <utility>

namespace mirava::cli {

namespace {

std::string Duration(long long seconds) {
  const long long hours = seconds / 3600;
  const int minutes = static_cast<int>(seconds / 60 % 60);
  const int rest = static_cast<int>(seconds % 60);
  char text[64];
  std::snprintf(text, sizeof text, "%lld:%02d:%02d", hours, minutes, rest);
  return text;
}

}  // namespace

void ConsoleEvents::BusyChanged(bool) {
  // The log lines around it say what the operator needs to know.
}

void ConsoleEvents::LogLine(const std::string& line) {
  Event event;
  event.Text = line;
  Push(std::move(event));
}

void ConsoleEvents::ProgressChanged(const engine::RunProgress& progress) {
  Event event;
  event.Type = Event::Kind::Progress;
  event.Progress = progress;
  Push(std::move(event));
}

void ConsoleEvents::PagesUnrecognised(const std::string& message) {
  Event event;
  event.Type = Event::Kind::PagesUnrecognised;
  event.Text = message;
  Push(std::move(event));
}

void ConsoleEvents::RunEnded(engine::RunOutcome outcome, const std::string& message) {
  Event event;
  event.Type = Event::Kind::Ended;
  event.Text = message;
  event.Outcome = outcome;
  Push(std::move(event));
}

void ConsoleEvents::Push(Event event) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    events_.push_back(std::move(event));
  }
  ready_.notify_one();
}

std::optional<ConsoleEvents::Event> ConsoleEvents::Next(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!ready_.wait_for(lock, timeout, [this] { return !events_.empty(); })) {
    return std::nullopt;
  }
  Event event = std::move(events_.front());
  events_.pop_front();
  return event;
}

std::string ProgressText(const engine::RunProgress& progress, std::chrono::seconds elapsed) {
  std::string text = "страниц " + std::to_string(progress.Position) + " из " +
                     std::to_string(progress.Maximum) + ", строк " + std::to_string(progress.Rows) +
                     ", прошло " + Duration(elapsed.count());
  if (progress.Position > 0 && progress.Maximum > progress.Position) {
    const long long left =
        elapsed.count() * (progress.Maximum - progress.Position) / progress.Position;
    text += ", осталось ~" + Duration(left);
  }
  return text;
}

ProgressPrinter::ProgressPrinter(std::FILE* out, bool terminal, std::chrono::seconds plain_every,
                                 std::function<std::string()> account)
    : out_(out),
      terminal_(terminal),
      plain_every_(plain_every),
      account_(std::move(account)),
      started_(std::chrono::steady_clock::now()) {}

void ProgressPrinter::Update(const engine::RunProgress& progress,
                             std::chrono::steady_clock::time_point now) {
  // The run empties the bar when it ends; the last real count is the one worth showing.
  if (progress.Position == 0 && last_ && last_->Position > 0) {
    return;
  }
  last_ = progress;
  // A terminal line is redrawn a few times a second at most, however fast pages come.
  const auto every = terminal_ ? std::chrono::milliseconds(250) : plain_every_;
  if (!printed_ || now - *printed_ >= every || (terminal_ && !shown_)) {
    Print(now);
  }
}

void ProgressPrinter::ClearLine() {
  if (terminal_ && shown_) {
    std::fputs("\r\033[K", out_);
    std::fflush(out_);
    shown_ = false;
  }
}

void ProgressPrinter::Redraw(std::chrono::steady_clock::time_point now) {
  if (!last_) {
    return;
  }
  // The elapsed time moves on a terminal even while no page comes in.
  const auto every = terminal_ ? std::chrono::seconds(1) : plain_every_;
  if ((terminal_ && !shown_) || !printed_ || now - *printed_ >= every) {
    Print(now);
  }
}

void ProgressPrinter::Finish(std::chrono::steady_clock::time_point now) {
  if (!last_) {
    return;
  }
  // A plain line only when it says something new.
  if (terminal_ || printed_text_ != Text(now)) {
    Print(now);
  }
  if (terminal_) {
    std::fputc('\n', out_);
    std::fflush(out_);
    shown_ = false;
  }
}

std::chrono::seconds ProgressPrinter::Elapsed(std::chrono::steady_clock::time_point now) const {
  return std::chrono::duration_cast<std::chrono::seconds>(now - started_);
}

std::string ProgressPrinter::Text(std::chrono::steady_clock::time_point now) const {
  std::string text = ProgressText(*last_, Elapsed(now));
  if (account_) {
    if (const std::string account = account_(); !account.empty()) {
      text += ", " + account;
    }
  }
  return text;
}

void ProgressPrinter::Print(std::chrono::steady_clock::time_point now) {
  const std::string text = Text(now);
  printed_text_ = text;
  if (terminal_) {
    std::fprintf(out_, "\r\033[K%s", text.c_str());
    shown_ = true;
  } else {
    std::fprintf(out_, "%s\n", text.c_str());
  }
  std::fflush(out_);
  printed_ = now;
}

}  // namespace mirava::cli
