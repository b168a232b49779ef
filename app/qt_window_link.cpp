#include "app/qt_window_link.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QListWidget>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <exception>

namespace mirava::app {
namespace {

// The locale's time format without its time-zone letters ("t"), outside quoted text.
QString TimeFormatWithoutZone(const QString& format) {
  QString result;
  bool quoted = false;
  for (const QChar c : format) {
    if (c == u'\'') {
      quoted = !quoted;
    }
    if (!quoted && c == u't') {
      continue;
    }
    result += c;
  }
  return result.simplified();
}

QString Utf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

QString FormatLogTimestamp(const QDateTime& moment, const QLocale& locale) {
  // The C and POSIX locales would print an English month name; the operator reads Russian.
  const bool plain_locale = locale.language() == QLocale::C;
  QString stamp = plain_locale ? locale.toString(moment.date(), QStringLiteral("dd.MM.yyyy"))
                               : locale.toString(moment.date(), QLocale::ShortFormat);
  const QTime time = moment.time();
  if (time.hour() != 0 || time.minute() != 0 || time.second() != 0) {
    stamp += u' ';
    stamp += locale.toString(
        time, plain_locale ? QStringLiteral("H:mm:ss")
                           : TimeFormatWithoutZone(locale.timeFormat(QLocale::LongFormat)));
  }
  return stamp;
}

QtWindowDispatcher::QtWindowDispatcher(std::function<QDateTime()> now, QLocale locale)
    : receiver_(new QObject), now_(std::move(now)), locale_(std::move(locale)) {
  if (!now_) {
    now_ = [] { return QDateTime::currentDateTime(); };
  }
}

QtWindowDispatcher::~QtWindowDispatcher() {
  // The receiver belongs to the window thread; from another thread it can only be handed back.
  if (QThread::currentThread() == receiver_->thread()) {
    delete receiver_;
  } else if (QCoreApplication::instance() != nullptr) {
    receiver_->deleteLater();
  }
}

void QtWindowDispatcher::RunOnWindowThread(const std::function<void()>& callback) {
  if (shut_down_.load()) {
    return;
  }
  if (QThread::currentThread() == receiver_->thread()) {
    callback();
    return;
  }
  std::exception_ptr error;
  const bool delivered = QMetaObject::invokeMethod(
      receiver_,
      [&callback, &error, this] {
        if (shut_down_.load()) {
          return;
        }
        try {
          callback();
        } catch (...) {
          error = std::current_exception();
        }
      },
      Qt::BlockingQueuedConnection);
  if (!delivered) {
    throw std::runtime_error("window thread did not accept a callback");
  }
  if (error) {
    std::rethrow_exception(error);
  }
}

void QtWindowDispatcher::ProcessPendingMessages() {
  QCoreApplication::processEvents();
}

QString QtWindowDispatcher::Timestamp() const {
  return FormatLogTimestamp(now_(), locale_);
}

std::string QtWindowDispatcher::LogTimestamp() {
  return Timestamp().toStdString();
}

QtListBoxView::QtListBoxView(QListWidget* list) : list_(list) {}
QtLogView::QtLogView(QPlainTextEdit* memo) : memo_(memo) {}
QtButtonView::QtButtonView(QPushButton* button) : button_(button) {}
QtTimerView::QtTimerView(QTimer* timer) : timer_(timer) {}
QtCheckBoxView::QtCheckBoxView(QCheckBox* box) : box_(box) {}
QtSpinEditView::QtSpinEditView(QSpinBox* edit) : edit_(edit) {}

int QtListBoxView::Count() const {
  return list_ ? list_->count() : 0;
}

bool QtListBoxView::IsSelected(int index) const {
  const QListWidgetItem* item = list_ ? list_->item(index) : nullptr;
  return item != nullptr && item->isSelected();
}

std::optional<std::string> QtListBoxView::Value(int index) const {
  const QListWidgetItem* item = list_ ? list_->item(index) : nullptr;
  if (item == nullptr) {
    return std::nullopt;
  }
  const QVariant value = item->data(Qt::UserRole);
  if (!value.isValid()) {
    return std::nullopt;
  }
  return value.toString().toStdString();
}

void QtListBoxView::SetEnabled(bool enabled) {
  if (list_) {
    list_->setEnabled(enabled);
  }
}

void QtLogView::Clear() {
  if (memo_) {
    memo_->clear();
  }
}

void QtLogView::AppendLine(const std::string& line) {
  if (!memo_) {
    return;
  }
  QString text = Utf8(line);
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(u'\r', u'\n');
  memo_->appendPlainText(text);
}

std::string QtLogView::Text() const {
  return memo_ ? memo_->toPlainText().toStdString() : std::string();
}

QtProgressView::QtProgressView(QProgressBar* bar) : bar_(bar) {
  Show();
}

void QtProgressView::SetMaximum(int maximum) {
  maximum_ = std::max(maximum, 0);
  position_ = std::clamp(position_, 0, maximum_);
  Show();
}

void QtProgressView::SetPosition(int position) {
  position_ = std::clamp(position, 0, maximum_);
  Show();
}

void QtProgressView::SetHint(const std::string& hint) {
  if (bar_) {
    bar_->setToolTip(Utf8(hint));
  }
}

void QtProgressView::Show() {
  if (!bar_) {
    return;
  }
  // An empty range is drawn as an empty bar rather than Qt's busy indicator.
  bar_->setRange(0, std::max(maximum_, 1));
  bar_->setValue(position_);
}

void QtButtonView::SetEnabled(bool enabled) {
  if (button_) {
    button_->setEnabled(enabled);
  }
}

void QtTimerView::Arm(int interval_ms) {
  if (timer_) {
    timer_->setInterval(interval_ms);
    timer_->start();
  }
}

bool QtCheckBoxView::IsChecked() const {
  return box_ && box_->isChecked();
}

int QtSpinEditView::Value() const {
  return edit_ ? edit_->value() : 0;
}

}  // namespace mirava::app
