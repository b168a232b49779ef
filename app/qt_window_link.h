#pragma once
// The Qt side of the link between a run and the window: the nine controls as the views a run
// sees, and the dispatcher that runs the run's callbacks on the window thread.
#include <QDateTime>
#include <QLocale>
#include <QPointer>
#include <QString>
#include <atomic>
#include <functional>
#include <string>

#include "engine/window_link.h"

class QCheckBox;
class QListWidget;
class QObject;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTimer;

namespace mirava::app {

// The short date, one space and the long time without any time-zone part; the time is left out
// at exactly 00:00:00. Under the C or POSIX locale: dd.MM.yyyy H:mm:ss.
QString FormatLogTimestamp(const QDateTime& moment, const QLocale& locale);

// Runs callbacks on the thread that created it (the window thread). A call from another thread
// is queued there and waits; a call made on the window thread runs at once, since waiting for
// itself would never end.
class QtWindowDispatcher final : public engine::IWindowDispatcher {
 public:
  explicit QtWindowDispatcher(std::function<QDateTime()> now = {},
                              QLocale locale = QLocale::system());
  ~QtWindowDispatcher() override;
  QtWindowDispatcher(const QtWindowDispatcher&) = delete;
  QtWindowDispatcher& operator=(const QtWindowDispatcher&) = delete;

  void RunOnWindowThread(const std::function<void()>& callback) override;
  void ProcessPendingMessages() override;
  std::string LogTimestamp() override;

  QString Timestamp() const;
  // The window is going away: from now on a call returns at once without running its callback,
  // so no thread ever waits for a window thread that no longer serves it.
  void Shutdown() { shut_down_.store(true); }

 private:
  QObject* receiver_;  // lives on the window thread
  std::function<QDateTime()> now_;
  QLocale locale_;
  std::atomic<bool> shut_down_{false};
};

// The views hold guarded pointers: a callback that arrives after its control is gone does
// nothing.
class QtListBoxView final : public engine::IListBoxView {
 public:
  explicit QtListBoxView(QListWidget* list);
  int Count() const override;
  bool IsSelected(int index) const override;
  std::optional<std::string> Value(int index) const override;
  void SetEnabled(bool enabled) override;

 private:
  QPointer<QListWidget> list_;
};

class QtLogView final : public engine::ILogView {
 public:
  explicit QtLogView(QPlainTextEdit* memo);
  void Clear() override;
  // A text holding line breaks becomes several lines; a break at its end leaves an empty line.
  void AppendLine(const std::string& line) override;
  std::string Text() const override;

 private:
  QPointer<QPlainTextEdit> memo_;
};

// Keeps the run's maximum and position itself, because a Qt bar with an empty range would turn
// into a busy indicator and one given an out-of-range value ignores it.
class QtProgressView final : public engine::IProgressView {
 public:
  explicit QtProgressView(QProgressBar* bar);
  void SetMaximum(int maximum) override;
  void SetPosition(int position) override;
  int Position() const override { return position_; }
  int Maximum() const override { return maximum_; }
  void SetHint(const std::string& hint) override;

 private:
  void Show();
  QPointer<QProgressBar> bar_;
  int maximum_ = 100;
  int position_ = 0;
};

class QtButtonView final : public engine::IButtonView {
 public:
  explicit QtButtonView(QPushButton* button);
  void SetEnabled(bool enabled) override;

 private:
  QPointer<QPushButton> button_;
};

class QtTimerView final : public engine::ITimerView {
 public:
  explicit QtTimerView(QTimer* timer);
  void Arm(int interval_ms) override;

 private:
  QPointer<QTimer> timer_;
};

class QtCheckBoxView final : public engine::ICheckBoxView {
 public:
  explicit QtCheckBoxView(QCheckBox* box);
  bool IsChecked() const override;

 private:
  QPointer<QCheckBox> box_;
};

class QtSpinEditView final : public engine::ISpinEditView {
 public:
  explicit QtSpinEditView(QSpinBox* edit);
  int Value() const override;

 private:
  QPointer<QSpinBox> edit_;
};

}  // namespace mirava::app
