#include <QDir>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTest>

#include "app_test_main.h"
#include "form_fixture.h"
#include "tests/support/fake_directory.h"
#include "tests/support/fake_site.h"

using mirava::testing::DirectorySize;
using mirava::testing::FakeDirectory;
using mirava::testing::FakeSite;
using mirava::testing::FormFixture;

namespace {

QByteArray OnlyResultsFile(const FormFixture& fixture) {
  const QStringList files = QDir(fixture.Path("")).entryList({"data*.tab"});
  if (files.size() != 1) {
    return "<" + QByteArray::number(files.size()) + " results files>";
  }
  return fixture.Read(files[0]);
}

}  // namespace

// The two front ends run the same core: for one selection, mirava-cli writes the results file
// the window writes, byte for byte.
class CliCompareTest : public QObject {
  Q_OBJECT

 private slots:
  void CliWritesTheWindowsResultsFile() {
    FakeDirectory directory({.Seed = 7, .Size = DirectorySize::Small, .PageBytes = 2000});
    FakeSite site;
    directory.Attach(site);
    QStringList cities;
    for (std::size_t city = 0; city < directory.Cities().size(); ++city) {
      cities << QString::fromStdString(directory.Cities()[city].Name + "=" +
                                       directory.CityValue(site.Origin(), city));
    }
    QStringList categories;
    for (const auto& category : directory.Categories()) {
      categories << QString::fromStdString(category.Name + "=" + category.Path);
    }
    const QString city = QString::fromStdString(directory.Cities()[1].Name);
    const QString first = QString::fromStdString(directory.Categories()[0].Name);
    const QString second = QString::fromStdString(directory.Categories()[1].Name);

    FormFixture window_folder;
    window_folder.WriteLists(cities, categories);
    window_folder.Write("selection1.txt", city.toUtf8() + "\r\n");
    window_folder.Write("selection2.txt", (first + "\r\n" + second + "\r\n").toUtf8());
    window_folder.Write("settings.ini", "[Settings]\r\nThreads=1\r\nInterval=0\r\n");
    {
      const auto form = window_folder.MakeForm();
      form->show();
      form->StartButtonClick();
      // The events reach the window after the run has announced them; the log's last line
      // comes once the results file is closed.
      QTRY_VERIFY_WITH_TIMEOUT(form->LogsMemo->toPlainText().contains("Работа завершена"), 120000);
      QVERIFY2(form->LogsMemo->toPlainText().contains("Сбор данных завершен"),
               qPrintable(form->LogsMemo->toPlainText()));
      QTRY_VERIFY_WITH_TIMEOUT(form->CurrentScraper.expired(), 30000);
    }
    const QByteArray window_results = OnlyResultsFile(window_folder);
    QVERIFY(window_results.count("\r\n") > 2);

    FormFixture cli_folder;
    cli_folder.WriteLists(cities, categories);
    QProcess cli;
    cli.start(MIRAVA_CLI_PATH,
              {"--folder", cli_folder.Path(""), "--city", city, "--category", second, "--category",
               first, "--threads", "1", "--interval", "0", "--no-open"});
    QVERIFY(cli.waitForFinished(120000));
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QCOMPARE(cli.exitCode(), 0);
    QCOMPARE(OnlyResultsFile(cli_folder), window_results);
  }
};

MIRAVA_APP_TEST(CliCompareTest)
#include "cli_compare_test.moc"
