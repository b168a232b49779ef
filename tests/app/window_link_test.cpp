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
using mirava::app::QtRunEvents;
using mirava::engine::RunOutcome;
using mirava::engine::RunProgress;

namespace {

// What reached the window, and on which thread.
class WindowSide final : public QObject, public mirava::engine::IRunEvents {
 public:
  void BusyChanged(bool busy) override { Note(busy ? "busy on" : "busy off"); }
  void LogLine(const std::string& line) override { Note("log " + line); }
  void ProgressChanged(const RunProgress& progress) override {
    Note("progress " + std::to_string(progress.Position) + "/" + std::to_string(progress.Maximum));
  }
  void RunEnded(RunOutcome, const std::string& message) override { Note("ended " + message); }

  std::vector<std::string> seen;
  bool on_window_thread = true;

 private:
  void Note(const std::string& event) {
    on_window_thread = on_window_thread && QThread::currentThread() == thread();
    seen.push_back(event);
  }
};

}  // namespace

class WindowLinkTest : public QObject {
  Q_OBJECT

 private slots:
  // Events from other threads arrive on the window thread, in the order they were announced,
  // and the announcing thread never waits: here the window thread handles nothing until the
  // announcing thread has finished.
  void QueuesEventsToTheWindowThreadInOrder() {
    WindowSide window;
    QtRunEvents events(&window, &window);
    std::thread run([&] {
      events.BusyChanged(true);
      events.LogLine("первая");
      events.ProgressChanged(RunProgress{1, 4, 0});
      events.BusyChanged(false);
      events.RunEnded(RunOutcome::Complete, "");
    });
    run.join();
    QVERIFY(window.seen.empty());
    QTRY_COMPARE(window.seen.size(), std::size_t{5});
    QVERIFY(window.on_window_thread);
    QCOMPARE(window.seen, (std::vector<std::string>{"busy on", "log первая", "progress 1/4",
                                                    "busy off", "ended "}));
  }

  // On the window thread an event is queued as well, so it never overtakes one queued before
  // it and never runs inside the handler that announced it.
  void EventsOnTheWindowThreadAreQueuedToo() {
    WindowSide window;
    QtRunEvents events(&window, &window);
    std::thread run([&] { events.LogLine("с потока"); });
    run.join();
    events.LogLine("из окна");
    QVERIFY(window.seen.empty());
    QTRY_COMPARE(window.seen.size(), std::size_t{2});
    QCOMPARE(window.seen, (std::vector<std::string>{"log с потока", "log из окна"}));
  }

  // Once the window is going away, queued and later events are dropped.
  void AfterShutdownNothingArrives() {
    WindowSide window;
    QtRunEvents events(&window, &window);
    events.LogLine("в очереди");
    events.Shutdown();
    std::thread run([&] { events.LogLine("после"); });
    run.join();
    QTest::qWait(20);
    QVERIFY(window.seen.empty());
  }

  // Events for a window that no longer exists are dropped, and the link outlives it safely.
  void EventsForADestroyedWindowAreDropped() {
    auto window = std::make_unique<WindowSide>();
    auto events = std::make_shared<QtRunEvents>(window.get(), window.get());
    events->LogLine("в очереди");
    window.reset();
    std::thread run([events] { events->LogLine("после"); });
    run.join();
    QTest::qWait(20);
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
