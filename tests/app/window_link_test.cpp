#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTest>
#include <QThread>
#include <atomic>
#include <stdexcept>
#include <thread>

#include "app/qt_window_link.h"
#include "app_test_main.h"

using mirava::app::FormatLogTimestamp;
using mirava::app::QtWindowDispatcher;

namespace {

// Runs `body` on a thread of its own while this (the window) thread keeps handling events, as
// the window does while a run waits for it.
void OnOtherThread(const std::function<void()>& body) {
  std::atomic<bool> done{false};
  std::thread thread([&] {
    body();
    done = true;
  });
  QTRY_VERIFY_WITH_TIMEOUT(done.load(), 10000);
  thread.join();
}

}  // namespace

class WindowLinkTest : public QObject {
  Q_OBJECT

 private slots:
  void RunsCallbacksOnTheWindowThreadInOrder() {
    QtWindowDispatcher dispatcher;
    QThread* const window_thread = QThread::currentThread();
    std::vector<int> order;
    bool on_window_thread = true;
    OnOtherThread([&] {
      for (int i = 0; i < 3; ++i) {
        dispatcher.RunOnWindowThread([&, i] {
          on_window_thread = on_window_thread && QThread::currentThread() == window_thread;
          order.push_back(i);
        });
      }
    });
    QVERIFY(on_window_thread);
    QCOMPARE(order, (std::vector<int>{0, 1, 2}));
  }

  void CarriesAnErrorBackToTheCaller() {
    QtWindowDispatcher dispatcher;
    std::string caught;
    OnOtherThread([&] {
      try {
        dispatcher.RunOnWindowThread([] { throw std::runtime_error("из окна"); });
      } catch (const std::runtime_error& error) {
        caught = error.what();
      }
    });
    QCOMPARE(caught, std::string("из окна"));
  }

  // Waiting for itself would never end, so a call on the window thread runs at once, and a
  // callback may dispatch again (a run's callback logging through the dispatcher).
  void CallOnTheWindowThreadRunsDirectly() {
    QtWindowDispatcher dispatcher;
    int depth = 0;
    dispatcher.RunOnWindowThread([&] {
      ++depth;
      dispatcher.RunOnWindowThread([&] { ++depth; });
    });
    QCOMPARE(depth, 2);
    QVERIFY_THROWS_EXCEPTION(std::logic_error,
                             dispatcher.RunOnWindowThread([] { throw std::logic_error("x"); }));
  }

  // Once the window has gone, a run must never wait for it again.
  void AfterShutdownCallsReturnWithoutRunning() {
    QtWindowDispatcher dispatcher;
    dispatcher.Shutdown();
    bool ran = false;
    std::atomic<bool> returned{false};
    std::thread caller([&] {
      dispatcher.RunOnWindowThread([&] { ran = true; });
      returned = true;
    });
    // No event processing here: the call must return by itself.
    for (int i = 0; i < 1000 && !returned; ++i) {
      QThread::msleep(5);
    }
    caller.join();
    QVERIFY(returned.load());
    QVERIFY(!ran);
  }

  void FormatsTimestamps_data() {
    QTest::addColumn<QDateTime>("moment");
    QTest::addColumn<QString>("expected");
    QTest::newRow("day time") << QDateTime(QDate(2026, 3, 9), QTime(7, 5, 3))
                              << "09.03.2026 07:05:03";
    QTest::newRow("one second past midnight")
        << QDateTime(QDate(2026, 12, 31), QTime(0, 0, 1)) << "31.12.2026 00:00:01";
    QTest::newRow("midnight leaves the time out")
        << QDateTime(QDate(2026, 12, 31), QTime(0, 0, 0, 500)) << "31.12.2026";
  }
  void FormatsTimestamps() {
    QFETCH(QDateTime, moment);
    QFETCH(QString, expected);
    const QLocale russian(QLocale::Russian, QLocale::Russia);
    QCOMPARE(FormatLogTimestamp(moment, russian), expected);
    QtWindowDispatcher dispatcher([moment] { return moment; }, russian);
    QCOMPARE(QString::fromStdString(dispatcher.LogTimestamp()), expected);
  }

  // The time-zone part of a locale's long time format is dropped; the rest is the locale's own.
  void TimestampsCarryNoTimeZone() {
    const QLocale american(QLocale::English, QLocale::UnitedStates);
    QVERIFY(american.timeFormat(QLocale::LongFormat).contains(u't'));
    QCOMPARE(FormatLogTimestamp(QDateTime(QDate(2026, 3, 9), QTime(19, 5, 3)), american),
             QString("3/9/26 7:05:03 PM"));
  }

  // Without a language of its own (C, POSIX) the stamp is the Russian numeric form, never an
  // English month name.
  void PlainLocalesFallBackToTheRussianNumericForm() {
    for (const QLocale& plain : {QLocale::c(), QLocale(QStringLiteral("POSIX"))}) {
      QCOMPARE(FormatLogTimestamp(QDateTime(QDate(2026, 3, 9), QTime(7, 5, 3)), plain),
               QString("09.03.2026 7:05:03"));
      QCOMPARE(FormatLogTimestamp(QDateTime(QDate(2026, 12, 31), QTime(19, 0, 0)), plain),
               QString("31.12.2026 19:00:00"));
      QCOMPARE(FormatLogTimestamp(QDateTime(QDate(2026, 12, 31), QTime(0, 0, 0)), plain),
               QString("31.12.2026"));
    }
  }

  void ProgressBarHoldsItsPositionInRange() {
    QProgressBar bar;
    mirava::app::QtProgressView view(&bar);
    view.SetMaximum(5);
    view.SetPosition(7);
    QCOMPARE(view.Position(), 5);
    QCOMPARE(bar.value(), bar.maximum());
    view.SetPosition(-1);
    QCOMPARE(view.Position(), 0);
    view.SetMaximum(0);
    view.SetPosition(0);
    QCOMPARE(view.Maximum(), 0);
    // An empty run shows an empty bar, not Qt's busy indicator.
    QVERIFY(bar.maximum() > bar.minimum());
    QCOMPARE(bar.value(), 0);
    view.SetHint("0 из 0, осталось 0");
    QCOMPARE(bar.toolTip(), QString("0 из 0, осталось 0"));
  }

  // A text with line breaks is several lines of the pane; a break at its end leaves an empty
  // line, as the restore report expects.
  void LogPaneAppendsLines() {
    QPlainTextEdit memo;
    mirava::app::QtLogView view(&memo);
    view.AppendLine("первая");
    view.AppendLine("Не удалось отметить рубрики:\r\nБары\r\n");
    view.AppendLine("после");
    QCOMPARE(QString::fromStdString(view.Text()),
             QString("первая\nНе удалось отметить рубрики:\nБары\n\nпосле"));
    view.Clear();
    view.AppendLine("снова");
    QCOMPARE(view.Text(), std::string("снова"));
  }
};

MIRAVA_APP_TEST(WindowLinkTest)
#include "window_link_test.moc"
