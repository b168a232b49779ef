#pragma once
// How a run reaches the window. The run never touches a widget: it sees its nine controls as the
// small views below and hands every use of them to the window thread through IWindowDispatcher,
// waiting until it has run. The Qt window implements these; the tests implement them too.
// Every view method is called only on the window thread.
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace mirava::engine {

// Texts are UTF-8.
class IListBoxView {  // CitiesListBox, CatsListBox
 public:
  virtual ~IListBoxView() = default;
  virtual int Count() const = 0;
  virtual bool IsSelected(int index) const = 0;
  // The value kept behind the item; nothing for a placeholder item that carries none.
  virtual std::optional<std::string> Value(int index) const = 0;
  virtual void SetEnabled(bool enabled) = 0;
};

class ILogView {  // LogsMemo
 public:
  virtual ~ILogView() = default;
  virtual void Clear() = 0;
  virtual void AppendLine(const std::string& line) = 0;
  // The whole text of the pane, lines separated by "\n".
  virtual std::string Text() const = 0;
};

class IProgressView {  // ProgressBar
 public:
  virtual ~IProgressView() = default;
  virtual void SetMaximum(int maximum) = 0;
  // The bar holds its position between 0 and its maximum.
  virtual void SetPosition(int position) = 0;
  virtual int Position() const = 0;
  virtual int Maximum() const = 0;
  virtual void SetHint(const std::string& hint) = 0;  // shown when the mouse rests on the bar
};

class IButtonView {  // StartButton
 public:
  virtual ~IButtonView() = default;
  virtual void SetEnabled(bool enabled) = 0;
};

class ITimerView {  // ResumeTimer
 public:
  virtual ~ITimerView() = default;
  // Sets the interval and enables the one-shot timer.
  virtual void Arm(int interval_ms) = 0;
};

class ICheckBoxView {  // UseProxyCheckBox
 public:
  virtual ~ICheckBoxView() = default;
  virtual bool IsChecked() const = 0;
};

class ISpinEditView {  // LimitEdit, IntervalSpinEdit
 public:
  virtual ~ISpinEditView() = default;
  virtual int Value() const = 0;  // the whole-number value
};

// The nine controls a run borrows from the window.
struct WindowControls {
  std::shared_ptr<IListBoxView> CitiesListBox;
  std::shared_ptr<IListBoxView> CatsListBox;
  std::shared_ptr<ILogView> LogsMemo;
  std::shared_ptr<IProgressView> ProgressBar;
  std::shared_ptr<IButtonView> StartButton;
  std::shared_ptr<ITimerView> ResumeTimer;
  std::shared_ptr<ICheckBoxView> UseProxyCheckBox;
  std::shared_ptr<ISpinEditView> LimitEdit;
  std::shared_ptr<ISpinEditView> IntervalSpinEdit;
};

class IWindowDispatcher {
 public:
  virtual ~IWindowDispatcher() = default;
  // Runs `callback` on the window thread and returns when it has run; an exception it throws is
  // thrown again here. Calls run one at a time in call order. Called on the window thread
  // itself, it runs the callback directly.
  virtual void RunOnWindowThread(const std::function<void()>& callback) = 0;
  // Lets the window handle its pending events; called on the window thread.
  virtual void ProcessPendingMessages() = 0;
  // The local date and time for a log line: the short date, one space and the long time; the
  // time is left out at exactly 00:00:00. Called on the window thread.
  virtual std::string LogTimestamp() = 0;
};

}  // namespace mirava::engine
