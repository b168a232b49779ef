#include "app/qt_window_link.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QThread>
#include <algorithm>

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

QtRunEvents::QtRunEvents(QObject* window, engine::IRunEvents* window_events)
    : target_(std::make_shared<Target>()), receiver_(new QObject) {
  target_->window = window;
  target_->events = window_events;
}

QtRunEvents::~QtRunEvents() {
  // The receiver belongs to the window thread; from another thread it can only be handed back.
  // Events still queued to it go with it.
  if (QThread::currentThread() == receiver_->thread()) {
    delete receiver_;
  } else if (QCoreApplication::instance() != nullptr) {
    receiver_->deleteLater();
  }
}

void QtRunEvents::Post(std::function<void(engine::IRunEvents&)> event) {
  if (target_->shut_down.load()) {
    return;
  }
  // Queued even on the window thread, so an event never overtakes one posted before it.
  QMetaObject::invokeMethod(
      receiver_,
      [target = target_, event = std::move(event)] {
        if (!target->shut_down.load() && target->window) {
          event(*target->events);
        }
      },
      Qt::QueuedConnection);
}

void QtRunEvents::BusyChanged(bool busy) {
  Post([busy](engine::IRunEvents& window) { window.BusyChanged(busy); });
}

void QtRunEvents::LogLine(const std::string& line) {
  Post([line](engine::IRunEvents& window) { window.LogLine(line); });
}

void QtRunEvents::ProgressChanged(const engine::RunProgress& progress) {
  Post([progress](engine::IRunEvents& window) { window.ProgressChanged(progress); });
}

void QtRunEvents::BaseUnavailable(const std::string& message) {
  Post([message](engine::IRunEvents& window) { window.BaseUnavailable(message); });
}

void QtRunEvents::PagesUnrecognised(const std::string& message) {
  Post([message](engine::IRunEvents& window) { window.PagesUnrecognised(message); });
}

void QtRunEvents::RunEnded(engine::RunOutcome outcome, const std::string& message) {
  Post([outcome, message](engine::IRunEvents& window) { window.RunEnded(outcome, message); });
}

QtLogView::QtLogView(QPlainTextEdit* memo) : memo_(memo) {}

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

}  // namespace mirava::app
