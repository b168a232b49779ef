#pragma once
// The Qt side of the link between a run and the window: the run's events queued to the window
// thread, the log time stamp in the locale's format, and the two controls whose behaviour the
// window adds to Qt's (the log pane and the progress bar).
#include <QDateTime>
#include <QLocale>
#include <QPointer>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "engine/run_events.h"

class QObject;
class QPlainTextEdit;
class QProgressBar;

namespace mirava::app {

// The short date, one space and the long time without any time-zone part; the time is left out
// at exactly 00:00:00. Under the C or POSIX locale: dd.MM.yyyy H:mm:ss.
QString FormatLogTimestamp(const QDateTime& moment, const QLocale& locale);

// Hands every event of a run to `window` on the thread that created it (the window thread),
// queued, in the order the run announced them. A call returns at once on any thread, the window
// thread included; nothing ever waits for the window, and no event runs inside another.
class QtRunEvents final : public engine::IRunEvents {
 public:
  // `window` must live on the calling thread; `window_events` is its implementation of the
  // events and lives as long as it does.
  QtRunEvents(QObject* window, engine::IRunEvents* window_events);
  ~QtRunEvents() override;
  QtRunEvents(const QtRunEvents&) = delete;
  QtRunEvents& operator=(const QtRunEvents&) = delete;

  void BusyChanged(bool busy) override;
  void LogLine(const std::string& line) override;
  void ProgressChanged(const engine::RunProgress& progress) override;
  void PagesUnrecognised(const std::string& message) override;
  void BaseUnavailable(const std::string& message) override;
  void RunEnded(engine::RunOutcome outcome, const std::string& message) override;

  // The window is going away: events still queued and every later one are dropped.
  void Shutdown() { target_->shut_down.store(true); }

 private:
  struct Target {
    QPointer<QObject> window;  // read on the window thread only
    engine::IRunEvents* events;
    std::atomic<bool> shut_down{false};
  };
  void Post(std::function<void(engine::IRunEvents&)> event);

  std::shared_ptr<Target> target_;
  QObject* receiver_;  // lives on the window thread
};

// The log pane.
class QtLogView final {
 public:
  explicit QtLogView(QPlainTextEdit* memo);
  void Clear();
  // A text holding line breaks becomes several lines; a break at its end leaves an empty line.
  void AppendLine(const std::string& line);
  std::string Text() const;

 private:
  QPointer<QPlainTextEdit> memo_;
};

// Keeps the run's maximum and position itself, because a Qt bar with an empty range would turn
// into a busy indicator and one given an out-of-range value ignores it.
class QtProgressView final {
 public:
  explicit QtProgressView(QProgressBar* bar);
  void SetMaximum(int maximum);
  void SetPosition(int position);
  int Position() const { return position_; }
  int Maximum() const { return maximum_; }
  void SetHint(const std::string& hint);  // shown when the mouse rests on the bar

 private:
  void Show();
  QPointer<QProgressBar> bar_;
  int maximum_ = 100;
  int position_ = 0;
};

}  // namespace mirava::app
