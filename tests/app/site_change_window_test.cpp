// The window's side of a run that holds because the site's pages stopped being recognised: one
// message box that says what happened and what to do, "пауза" goes on, "стоп" ends the run and
// leaves it continuable. And the site check button.
#include <QDir>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <memory>

#include "app_test_main.h"
#include "engine/run_continuation.h"
#include "form_fixture.h"
#include "tests/support/fake_directory.h"
#include "tests/support/fake_site.h"

using mirava::app::TMainForm;
using mirava::testing::DirectoryOptions;
using mirava::testing::DirectorySize;
using mirava::testing::FakeDirectory;
using mirava::testing::FakeSite;
using mirava::testing::FormFixture;

namespace {

// The demo directory, changed as `options` say, served on 127.0.0.1, and a window in a folder
// whose lists select its first city and category, fetched by two threads at once.
struct ChangingSite {
  explicit ChangingSite(const DirectoryOptions& options) : directory(options) {
    directory.Attach(site);
    const QString city = QString::fromStdString(directory.Cities()[0].Name);
    const QString category = QString::fromStdString(directory.Categories()[0].Name);
    fixture.WriteLists(
        {city + "=" + QString::fromStdString(directory.CityValue(site.Origin(), 0))},
        {category + "=" + QString::fromStdString(directory.Categories()[0].Path), "Вторая=b/"});
    fixture.Write("selection1.txt", (city + "\r\n").toUtf8());
    fixture.Write("selection2.txt", "\xEF\xBB\xBF" + (category + "\r\n").toUtf8());
    fixture.Write("settings.ini", "[Settings]\r\nInterval=0\r\nThreads=2\r\n");
    form = fixture.MakeForm();
    form->show();
  }

  FakeDirectory directory;
  FakeSite site;
  FormFixture fixture;
  std::unique_ptr<TMainForm> form;
};

constexpr int kRunTimeoutMs = 60000;

}  // namespace

class SiteChangeWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void OneMessageThenPauseGoesOnAndTheRunFinishes() {
    ChangingSite changing({.Seed = 7, .Size = DirectorySize::Demo, .RobotCheckAfter = 3});
    auto& fixture = changing.fixture;
    auto& form = changing.form;
    form->StartButtonClick();
    QTRY_COMPARE_WITH_TIMEOUT(fixture.messages.size(), std::size_t{1}, kRunTimeoutMs);
    QCOMPARE(fixture.messages[0].Icon, mirava::app::MessageIcon::Warning);
    QCOMPARE(fixture.messages[0].Caption, QStringLiteral("Внимание!"));
    QVERIFY(
        fixture.messages[0].Text.startsWith("Страницы сайта перестали распознаваться: 20 подряд"));
    QVERIFY(fixture.messages[0].Text.contains("кнопка «пауза» продолжит работу"));
    QVERIFY(form->LogsMemo->toPlainText().contains(
        "Страницы сайта перестали распознаваться: 20 подряд"));
    {
      const auto run = form->ActiveRun();
      QVERIFY(run);
      QVERIFY(run->IsPaused());
    }

    changing.directory.BackToNormal();
    QTest::mouseClick(form->PauseButton, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(form->CurrentScraper.expired(), kRunTimeoutMs);
    // Its last lines may still be queued to the window.
    QTRY_VERIFY(form->LogsMemo->toPlainText().contains("Сбор данных завершен"));
    QCOMPARE(fixture.messages.size(), std::size_t{1});
  }

  void StopEndsTheHeldRunAndItCanBeContinued() {
    ChangingSite changing({.Seed = 7, .Size = DirectorySize::Demo, .ChangedAfter = 2});
    auto& fixture = changing.fixture;
    auto& form = changing.form;
    form->StartButtonClick();
    QTRY_COMPARE_WITH_TIMEOUT(fixture.messages.size(), std::size_t{1}, kRunTimeoutMs);
    QTest::mouseClick(form->StopButton, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(form->CurrentScraper.expired(), kRunTimeoutMs);
    QTRY_VERIFY(form->LogsMemo->toPlainText().contains("Работа прервана, ее можно продолжить"));
    const auto unfinished = mirava::engine::FindUnfinishedRun(fixture.Path("").toStdString());
    QVERIFY(unfinished);
    QVERIFY(!unfinished->Damage);
  }

  void CheckButtonReportsInTheLogAndWritesNoFile() {
    ChangingSite changing({.Seed = 7, .Size = DirectorySize::Demo, .ChangedAfter = 0});
    auto& fixture = changing.fixture;
    auto& form = changing.form;
    const QStringList before = QDir(fixture.Path("")).entryList(QDir::Files);
    QTest::mouseClick(form->CheckButton, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(form->LogsMemo->toPlainText().contains("Проверка не пройдена"),
                             kRunTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(form->CurrentScraper.expired(), kRunTimeoutMs);
    QTRY_VERIFY(form->StartButton->isEnabled());
    QVERIFY(form->CheckButton->isEnabled());
    QVERIFY(form->LogsMemo->toPlainText().contains("не распознана: нет ни названия, ни адреса"));
    QCOMPARE(QDir(fixture.Path("")).entryList(QDir::Files), before);
    QVERIFY(fixture.messages.empty());
  }
};

MIRAVA_APP_TEST(SiteChangeWindowTest)
#include "site_change_window_test.moc"
