// The window's side of the organization base: "только новые организации" and the refresh days
// go into the run and into settings.ini, a repeat from the window fetches no known
// organization, a base that cannot be used is told in one message box, and the base is saved as
// a workbook without holding the window up.
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <memory>

#include "app_test_main.h"
#include "form_fixture.h"
#include "tests/support/fake_directory.h"
#include "tests/support/fake_site.h"

using mirava::app::TMainForm;
using mirava::testing::DirectorySize;
using mirava::testing::FakeDirectory;
using mirava::testing::FakeSite;
using mirava::testing::FormFixture;

namespace {

constexpr int kRunTimeoutMs = 60000;

// The small directory on 127.0.0.1 and a window whose lists select all of it.
struct SmallSite {
  SmallSite() {
    directory.Attach(site);
    QStringList cities;
    QStringList categories;
    QByteArray city_selection;
    QByteArray category_selection = "\xEF\xBB\xBF";
    for (std::size_t city = 0; city < directory.Cities().size(); ++city) {
      const QString name = QString::fromStdString(directory.Cities()[city].Name);
      cities << name + "=" + QString::fromStdString(directory.CityValue(site.Origin(), city));
      city_selection += (name + "\r\n").toUtf8();
    }
    for (const auto& category : directory.Categories()) {
      const QString name = QString::fromStdString(category.Name);
      categories << name + "=" + QString::fromStdString(category.Path);
      category_selection += (name + "\r\n").toUtf8();
    }
    fixture.WriteLists(cities, categories);
    fixture.Write("selection1.txt", city_selection);
    fixture.Write("selection2.txt", category_selection);
    fixture.Write("settings.ini", "[Settings]\r\nInterval=0\r\n");
  }

  std::size_t OrganizationRequests() const {
    std::size_t count = 0;
    for (const std::string& path : site.Paths()) {
      count += path.starts_with("/org/") ? 1 : 0;
    }
    return count;
  }

  FakeDirectory directory{{.Seed = 7, .Size = DirectorySize::Small}};
  FakeSite site;
  FormFixture fixture;
};

void RunToTheEnd(TMainForm& form) {
  form.StartButtonClick();
  QTRY_VERIFY_WITH_TIMEOUT(form.LogsMemo->toPlainText().contains("Работа завершена, лог записан"),
                           kRunTimeoutMs);
  QTRY_VERIFY_WITH_TIMEOUT(form.CurrentScraper.expired(), kRunTimeoutMs);
}

}  // namespace

class BaseWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void ControlsAndTheirSettings() {
    FormFixture fixture;
    fixture.Write("settings.ini", "[Settings]\r\nOnlyNew=1\r\nRefreshDays=30\r\n");
    {
      const auto form = fixture.MakeForm();
      form->show();
      QCOMPARE(form->OnlyNewCheckBox->text(), QStringLiteral("только новые организации"));
      QCOMPARE(form->ExportBaseButton->text(), QStringLiteral("выгрузить базу"));
      QVERIFY(form->OnlyNewCheckBox->isChecked());
      QCOMPARE(form->RefreshDaysEdit->value(), 30);
      const auto request = form->MakeRunRequest();
      QVERIFY(request.OnlyNew);
      QCOMPARE(request.RefreshDays, 30);
      form->OnlyNewCheckBox->setChecked(false);
      form->RefreshDaysEdit->setValue(0);
      QVERIFY(form->close());
    }
    // Keys the file had are kept up to date, even at their defaults.
    const QByteArray settings = fixture.Read("settings.ini");
    QVERIFY2(settings.contains("OnlyNew=0\r\n"), settings.constData());
    QVERIFY2(settings.contains("RefreshDays=0\r\n"), settings.constData());
  }

  void ARepeatWithOnlyNewFetchesNoKnownOrganization() {
    SmallSite small;
    {
      const auto form = small.fixture.MakeForm();
      form->show();
      RunToTheEnd(*form);
      QCOMPARE(small.OrganizationRequests(), small.directory.Organizations().size());
      QVERIFY(
          form->LogsMemo->toPlainText().contains(QStringLiteral("База организаций: новых %1,")
                                                     .arg(small.directory.Organizations().size())));
      form->OnlyNewCheckBox->setChecked(true);
      QTest::qWait(1100);  // file names of their own: the tick count moves on
      RunToTheEnd(*form);
      QCOMPARE(small.OrganizationRequests(), small.directory.Organizations().size());
      QVERIFY(form->LogsMemo->toPlainText().contains(
          QStringLiteral("пропущено известных %1").arg(small.directory.Organizations().size())));
      QVERIFY(form->close());
    }
    QVERIFY(small.fixture.Read("settings.ini").contains("OnlyNew=1\r\n"));
    QVERIFY(small.fixture.messages.empty());
  }

  void ADamagedBaseIsToldOnceAndTheRunGoesOn() {
    SmallSite small;
    small.fixture.Write("organizations.db", QByteArray(4096, 'x'));
    const auto form = small.fixture.MakeForm();
    form->show();
    RunToTheEnd(*form);
    QTRY_COMPARE(small.fixture.messages.size(), std::size_t{1});
    QCOMPARE(small.fixture.messages[0].Icon, mirava::app::MessageIcon::Warning);
    QVERIFY(small.fixture.messages[0].Text.contains("недоступна"));
    QVERIFY(form->LogsMemo->toPlainText().contains("Сбор данных завершен"));
    QCOMPARE(small.fixture.Read("organizations.db"), QByteArray(4096, 'x'));
  }

  void TheBaseIsSavedAsAWorkbook() {
    SmallSite small;
    const auto form = small.fixture.MakeForm();
    form->show();
    const QString target = small.fixture.Path("base.xlsx");
    // No base yet: told so, nothing asked.
    QTest::mouseClick(form->ExportBaseButton, Qt::LeftButton);
    QCOMPARE(small.fixture.messages.size(), std::size_t{1});
    QVERIFY(small.fixture.messages[0].Text.contains("еще нет базы организаций"));

    QVERIFY(small.fixture.save_questions.empty());

    RunToTheEnd(*form);
    small.fixture.save_answer = target;
    QTest::mouseClick(form->ExportBaseButton, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(
        form->LogsMemo->toPlainText().contains(
            QStringLiteral("База организаций выгружена в файл %1, организаций: %2")
                .arg(target)
                .arg(small.directory.Organizations().size())),
        kRunTimeoutMs);
    QCOMPARE(small.fixture.save_questions.size(), std::size_t{1});
    QVERIFY(small.fixture.save_questions[0].endsWith("organizations.xlsx"));
    QVERIFY(form->ExportBaseButton->isEnabled());
    QFile workbook(target);
    QVERIFY(workbook.open(QIODevice::ReadOnly));
    QCOMPARE(workbook.read(2), QByteArray("PK"));
    QCOMPARE(small.fixture.messages.size(), std::size_t{1});
  }
};

MIRAVA_APP_TEST(BaseWindowTest)
#include "base_window_test.moc"
