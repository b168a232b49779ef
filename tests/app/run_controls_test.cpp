#include <QCheckBox>
#include <QDir>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <algorithm>

#include "analysis/text_encoding.h"
#include "app_test_main.h"
#include "engine/run_continuation.h"
#include "form_fixture.h"

using mirava::analysis::DecodeSystemCodePage;
using mirava::app::TMainForm;
using mirava::testing::FormFixture;
using mirava::testing::kStamp;

namespace {

// Port 9 on the loopback refuses at once; an interval of 100000 s holds every request after the
// first in its pacing wait, so the run stays alive until it is stopped, without any traffic.
void PrepareRun(FormFixture& fixture) {
  fixture.WriteLists({"Тест=http://127.0.0.1:9/"}, {"Первая=a/", "Вторая=b/", "Третья=c/"});
  fixture.Write("selection1.txt", "Тест\r\n");
  fixture.Write("selection2.txt", "Первая\r\nВторая\r\nТретья\r\n");
  fixture.Write("settings.ini", "[Settings]\r\nInterval=100000\r\n");
}

// Workers log from their own threads, so a line of the window is counted, not expected last.
int Count(const TMainForm& form, const QString& message) {
  return static_cast<int>(form.LogsMemo->toPlainText().split('\n').count(kStamp + message));
}

// Started and in its busy state.
void StartRun(TMainForm& form) {
  form.StartButtonClick();
  QVERIFY(!form.CurrentScraper.expired());
  QTRY_VERIFY_WITH_TIMEOUT(!form.StartButton->isEnabled(), 10000);
  QVERIFY(form.LogsMemo->toPlainText().startsWith(kStamp + "Начинаем работу по заданному списку"));
  // The first job has been refused and harvested; the next one waits for its turn.
  QTRY_VERIFY_WITH_TIMEOUT(form.LogsMemo->toPlainText().contains("http://127.0.0.1:9/a/: "), 10000);
}

// Stops a run still going and waits until it has given the window back and freed itself (the
// caller holds no reference to it any more).
void EndRun(TMainForm& form) {
  if (const auto run = form.CurrentScraper.lock()) {
    run->Stop();
  }
  QTRY_VERIFY_WITH_TIMEOUT(form.CurrentScraper.expired(), 30000);
}

}  // namespace

// A helper that failed has recorded its failure; the test ends there.
#define CHECKED(call)                 \
  do {                                \
    call;                             \
    if (QTest::currentTestFailed()) { \
      return;                         \
    }                                 \
  } while (false)

class RunControlsTest : public QObject {
  Q_OBJECT

 private slots:
  void PauseTwiceThenStopAPausedRun() {
    FormFixture fixture;
    PrepareRun(fixture);
    const auto form = fixture.MakeForm();
    form->show();
    CHECKED(StartRun(*form));
    QVERIFY(!form->CitiesListBox->isEnabled());
    QVERIFY(!form->CatsListBox->isEnabled());
    {
      const auto run = form->ActiveRun();
      QVERIFY(run);
      // The lines come from the run, queued to the window like every other line.
      QTest::mouseClick(form->PauseButton, Qt::LeftButton);
      QVERIFY(run->IsPaused());
      QTRY_COMPARE(Count(*form, "Включаем паузу"), 1);
      QTest::mouseClick(form->PauseButton, Qt::LeftButton);
      QVERIFY(!run->IsPaused());
      QTRY_COMPARE(Count(*form, "Отключаем паузу, продолжаем работу"), 1);

      form->PauseButtonClick();
      QVERIFY(run->IsPaused());
      QTest::mouseClick(form->StopButton, Qt::LeftButton);
      QTRY_COMPARE(Count(*form, "Останавливаем работу"), 1);
      QCOMPARE(Count(*form, "Включаем паузу"), 2);
      QCOMPARE(Count(*form, "Отключаем паузу, продолжаем работу"), 1);  // no resume line
      QCOMPARE(form->ProgressBar->value(), 0);
      QVERIFY(!run->IsPaused());
    }
    QTRY_VERIFY_WITH_TIMEOUT(form->StartButton->isEnabled(), 30000);
    QVERIFY(form->CitiesListBox->isEnabled());
    QVERIFY(!form->ActiveRun());
    // The run's log file holds the pane's lines up to the one that names it, the operator's
    // pause and stop lines included.
    const QStringList logs = QDir(fixture.Path("")).entryList({"log*.txt"});
    QCOMPARE(logs.size(), 1);
    const QStringList pane = form->LogsMemo->toPlainText().split('\n');
    const auto named = std::find_if(pane.begin(), pane.end(), [](const QString& line) {
      return line.contains("Работа завершена, лог записан в ");
    });
    QVERIFY(named != pane.end());
    const QStringList saved_lines(pane.begin(), named + 1);
    // In the system's code page: UTF-8 here, the ANSI code page on Windows.
    QCOMPARE(QString::fromStdU16String(DecodeSystemCodePage(fixture.Read(logs[0]).toStdString())),
             saved_lines.join("\r\n") + "\r\n");
    // A finished run is left alone.
    const QString log = form->LogsMemo->toPlainText();
    form->PauseButtonClick();
    form->StopButtonClick();
    QCOMPARE(form->LogsMemo->toPlainText(), log);
    CHECKED(EndRun(*form));
  }

  // Closing during a run asks first. Keep working: nothing happens. Stop and close: the run is
  // stopped and finished as after a stop, the window saves and ends the process; the run can
  // be continued from a new window, which asks at the start.
  void CloseDuringARunAsksThenStopsAndTheRunContinues() {
    FormFixture fixture;
    PrepareRun(fixture);
    {
      const auto form = fixture.MakeForm();
      form->show();
      CHECKED(StartRun(*form));
      form->LimitEdit->setValue(3);

      fixture.answers = {false};
      QVERIFY(!form->close());
      QCOMPARE(fixture.questions.size(), std::size_t{1});
      QVERIFY(fixture.questions[0].Text.contains("[Остановить и закрыть|Продолжить работу]"));
      QVERIFY(form->ActiveRun() != nullptr);
      QCOMPARE(Count(*form, "Останавливаем работу"), 0);

      fixture.answers = {true};
      form->close();
      QTRY_VERIFY_WITH_TIMEOUT(!form->isVisible(), 30000);
      QCOMPARE(fixture.questions.size(), std::size_t{2});
      QCOMPARE(fixture.Read("settings.ini"),
               QByteArray("[Settings]\r\nInterval=100000\r\nUseProxy=0\r\nThreads=3\r\n"));
      QCOMPARE(Count(*form, "Останавливаем работу"), 1);
      QVERIFY(form->LogsMemo->toPlainText().contains("можно продолжить"));
      QTRY_VERIFY_WITH_TIMEOUT(form->CurrentScraper.expired(), 30000);
    }
    QDir folder(fixture.Path(""));
    const QStringList results = folder.entryList({"data*.tab"});
    QCOMPARE(results.size(), 1);
    QCOMPARE(folder.entryList({"data*.xlsx"}).size(), 1);
    QCOMPARE(folder.entryList({"log*.txt"}).size(), 1);

    // The stopped run freed itself, so the window ended as any window does.
    QVERIFY(fixture.exits.empty());
    fixture.questions.clear();
    const auto again = fixture.MakeForm();
    again->show();
    fixture.answers = {true};
    again->StartButtonClick();
    QCOMPARE(fixture.questions.size(), std::size_t{1});
    const QString question = fixture.questions[0].Text;
    QVERIFY2(question.contains("Файл результатов: " + results[0]), qPrintable(question));
    QVERIFY2(question.contains("Собрано организаций: 0"), qPrintable(question));
    QVERIFY2(question.contains("Осталось страниц: 2") || question.contains("Осталось страниц: 3"),
             qPrintable(question));
    QTRY_VERIFY_WITH_TIMEOUT(
        again->LogsMemo->toPlainText().contains(
            "Продолжаем прерванную работу, данные дописываются в файл " + fixture.Path(results[0])),
        10000);
    CHECKED(EndRun(*again));
    QCOMPARE(folder.entryList({"data*.tab"}).size(), 1);
    QCOMPARE(folder.entryList({"log*.txt"}).size(), 2);

    // Declined: a new run starts, the old run's files stay and it is not offered again.
    fixture.answers = {false};
    again->StartButtonClick();
    QTRY_VERIFY_WITH_TIMEOUT(!again->StartButton->isEnabled(), 10000);
    CHECKED(EndRun(*again));
    QCOMPARE(folder.entryList({"data*.tab"}).size(), 2);
    QCOMPARE(fixture.questions.size(), std::size_t{2});
    const auto offered = mirava::engine::FindUnfinishedRun(fixture.Path("").toStdString());
    QVERIFY(offered.has_value());
    QVERIFY(QString::fromStdString(offered->ResultsFileName) != results[0]);
    fixture.answers = {false};
    again->close();
  }

  // A ticked proxy box with no proxy to use: no run, and a message that says why and what to do.
  void TickedProxyBoxWithoutUsableProxyDoesNotStart() {
    struct Case {
      const char* name;
      const char* proxy_file;  // nullptr: no proxy.txt
      const char* why;
    };
    const Case cases[] = {
        {"no proxy.txt", nullptr, "файла proxy.txt нет"},
        {"empty proxy.txt", "", "файл proxy.txt пуст"},
        {"blank lines only", "\r\n  \r\n", "файл proxy.txt пуст"},
        {"no usable line", "127.0.0.1\r\nuser:pw@host:70000\r\n", "нет ни одной годной"},
    };
    for (const Case& c : cases) {
      FormFixture fixture;
      PrepareRun(fixture);
      fixture.Write("settings.ini", "[Settings]\r\nUseProxy=1\r\n");
      if (c.proxy_file != nullptr) {
        fixture.Write("proxy.txt", c.proxy_file);
      }
      const auto form = fixture.MakeForm();
      form->show();
      QVERIFY(form->UseProxyCheckBox->isChecked());
      form->StartButtonClick();
      QVERIFY2(form->CurrentScraper.expired(), c.name);
      QVERIFY(form->StartButton->isEnabled());
      QCOMPARE(form->LogsMemo->toPlainText(), QString("Нет годных прокси, старт невозможен"));
      QCOMPARE(fixture.messages.size(), std::size_t{1});
      const QString text = fixture.messages[0].Text;
      QVERIFY2(text.contains(QString::fromUtf8(c.why)), qPrintable(text));
      QVERIFY2(text.contains("снимите галочку"), qPrintable(text));
    }

    // One usable entry is enough: the run starts (its proxy refuses at once).
    FormFixture fixture;
    PrepareRun(fixture);
    fixture.Write("settings.ini", "[Settings]\r\nUseProxy=1\r\n");
    fixture.Write("proxy.txt", "\r\nuser:pw@127.0.0.1:9\r\n");
    const auto form = fixture.MakeForm();
    form->show();
    form->StartButtonClick();
    QVERIFY(!form->CurrentScraper.expired());
    QVERIFY(fixture.messages.empty());
    CHECKED(EndRun(*form));
  }

  void SecondStartWhileARunIsUnderWayIsIgnored() {
    FormFixture fixture;
    PrepareRun(fixture);
    const auto form = fixture.MakeForm();
    form->show();
    CHECKED(StartRun(*form));
    const auto* const first = form->CurrentScraper.lock().get();
    form->StartButtonClick();
    QCOMPARE(form->CurrentScraper.lock().get(), first);
    QVERIFY(!form->LogsMemo->toPlainText().isEmpty());
    CHECKED(EndRun(*form));
  }
};

MIRAVA_APP_TEST(RunControlsTest)
#include "run_controls_test.moc"
