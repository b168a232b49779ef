#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <climits>

#include "analysis/text_encoding.h"
#include "app_test_main.h"
#include "form_fixture.h"

using mirava::analysis::EncodeSystemCodePage;
using mirava::app::MessageIcon;
using mirava::app::TMainForm;
using mirava::testing::FormFixture;
using mirava::testing::kBom;

namespace {

QStringList ItemNames(const QListWidget& list) {
  QStringList names;
  for (int i = 0; i < list.count(); ++i) {
    names << list.item(i)->text();
  }
  return names;
}

// The value kept behind an item; nothing for a placeholder.
std::optional<std::string> ItemValue(const QListWidget& list, int index) {
  const QVariant value = list.item(index)->data(Qt::UserRole);
  return value.isValid() ? std::optional(value.toString().toStdString()) : std::nullopt;
}

QStringList SelectedNames(const QListWidget& list) {
  QStringList names;
  for (int i = 0; i < list.count(); ++i) {
    if (list.item(i)->isSelected()) {
      names << list.item(i)->text();
    }
  }
  return names;
}

void SelectNames(QListWidget& list, const QStringList& names) {
  for (int i = 0; i < list.count(); ++i) {
    list.item(i)->setSelected(names.contains(list.item(i)->text()));
  }
}

QString ControlText(const QWidget& control) {
  if (const auto* label = qobject_cast<const QLabel*>(&control)) {
    return label->text();
  }
  if (const auto* button = qobject_cast<const QAbstractButton*>(&control)) {
    return button->text();
  }
  return {};
}

const QStringList kCities{"Москва=https://m/moskva/", "Барнаул=https://m/barnaul/",
                          "Омск=https://m/omsk/", "Омск=https://m/omsk2/"};
const QStringList kCategories{"Автосервисы=auto/type/service/", "Чип-тюнинг=auto/type/chip/",
                              "Бары =food/type/bars/", "Кафе=food/type/cafe/",
                              "Кафе=food/type/cafe2/"};

}  // namespace

class MainFormTest : public QObject {
  Q_OBJECT

 private slots:
  void ControlsMatchTheDesign_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("text");
    QTest::newRow("Label1") << "Label1"
                            << "QLabel" << QRect(8, 8, 158, 26)
                            << "Выберите один или несколько городов (Shift,Ctrl)";
    QTest::newRow("Label3") << "Label3"
                            << "QLabel" << QRect(187, 8, 158, 26)
                            << "Выберите одну или несколько категорий (Shift,Ctrl)";
    QTest::newRow("Label2") << "Label2"
                            << "QLabel" << QRect(559, 21, 28, 13) << "Логи:";
    QTest::newRow("CitiesListBox") << "CitiesListBox"
                                   << "QListWidget" << QRect(8, 40, 173, 635) << "";
    QTest::newRow("CatsListBox") << "CatsListBox"
                                 << "QListWidget" << QRect(187, 40, 366, 635) << "";
    QTest::newRow("LogsMemo") << "LogsMemo"
                              << "QPlainTextEdit" << QRect(559, 40, 723, 634) << "";
    QTest::newRow("StartButton") << "StartButton"
                                 << "QPushButton" << QRect(8, 681, 253, 43) << "СТАРТ";
    QTest::newRow("PauseButton") << "PauseButton"
                                 << "QPushButton" << QRect(267, 682, 75, 18) << "пауза";
    QTest::newRow("StopButton") << "StopButton"
                                << "QPushButton" << QRect(267, 706, 75, 18) << "стоп";
    QTest::newRow("Label5") << "Label5"
                            << "QLabel" << QRect(360, 686, 79, 13) << "Число потоков:";
    QTest::newRow("LimitEdit") << "LimitEdit"
                               << "QSpinBox" << QRect(445, 683, 48, 21) << "";
    QTest::newRow("Label4") << "Label4"
                            << "QLabel" << QRect(504, 687, 197, 13)
                            << "Интервал между запросами к сайту, с:";
    QTest::newRow("IntervalSpinEdit") << "IntervalSpinEdit"
                                      << "QSpinBox" << QRect(703, 683, 43, 21) << "";
    QTest::newRow("UseProxyCheckBox")
        << "UseProxyCheckBox"
        << "QCheckBox" << QRect(360, 710, 233, 17) << "Использовать прокси из файла proxy.txt";
    QTest::newRow("Label6") << "Label6"
                            << "QLabel" << QRect(763, 680, 423, 39)
                            << "ВАЖНО! Сайт блокирует IP-адрес навсегда при большой интенсивности "
                               "запросов (более 1 потока с интервалом менее 10с). Рекомендуется "
                               "использовать прокси с ротацией для многопоточного сбора с нулевым "
                               "интервалом.";
    QTest::newRow("ProgressBar") << "ProgressBar"
                                 << "QProgressBar" << QRect(0, 730, 1290, 17) << "";
    // The organization base's controls, in the free strip above the log.
    QTest::newRow("OnlyNewCheckBox")
        << "OnlyNewCheckBox"
        << "QCheckBox" << QRect(700, 17, 170, 17) << "только новые организации";
    QTest::newRow("Label7") << "Label7"
                            << "QLabel" << QRect(884, 19, 166, 13)
                            << "обновлять известные через, дн.:";
    QTest::newRow("RefreshDaysEdit") << "RefreshDaysEdit"
                                     << "QSpinBox" << QRect(1052, 15, 52, 21) << "";
    QTest::newRow("ExportBaseButton")
        << "ExportBaseButton"
        << "QPushButton" << QRect(1172, 12, 110, 25) << "выгрузить базу";
  }
  void ControlsMatchTheDesign() {
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);
    FormFixture fixture;
    const auto form = fixture.MakeForm();
    form->show();
    QCOMPARE(form->size(), QSize(1290, 747));
    const auto* control = form->findChild<QWidget*>(name);
    QVERIFY(control != nullptr);
    QCOMPARE(control->metaObject()->className(), kind.toLatin1());
    QCOMPARE(control->geometry(), geometry);
    QCOMPARE(ControlText(*control), text);
  }

  void WindowAndInitialValues() {
    FormFixture fixture;
    const auto form = fixture.MakeForm();
    QCOMPARE(form->windowTitle(), QString("Парсер организаций Mirava"));
    QCOMPARE(form->font().pixelSize(), 11);
    QCOMPARE(form->StartButton->font().pixelSize(), 19);
    QCOMPARE(form->LimitEdit->minimum(), 1);
    QCOMPARE(form->LimitEdit->maximum(), 1000);
    QCOMPARE(form->LimitEdit->value(), 1);
    QCOMPARE(form->IntervalSpinEdit->minimum(), 0);
    QCOMPARE(form->IntervalSpinEdit->maximum(), INT_MAX);
    QCOMPARE(form->IntervalSpinEdit->value(), 10);
    QVERIFY(!form->UseProxyCheckBox->isChecked());
    QCOMPARE(form->CitiesListBox->selectionMode(), QAbstractItemView::ExtendedSelection);
    QCOMPARE(form->CatsListBox->selectionMode(), QAbstractItemView::ExtendedSelection);
    QCOMPARE(form->CitiesListBox->visualItemRect(form->CitiesListBox->item(0)).height(), 13);
    QCOMPARE(form->LogsMemo->lineWrapMode(), QPlainTextEdit::NoWrap);
    QVERIFY(!form->LogsMemo->isReadOnly());
  }

  // The whole log goes to the log file; the pane keeps the latest lines only, so its memory does
  // not grow with the run.
  void LogPaneKeepsTheLatestTenThousandLines() {
    FormFixture fixture;
    const auto form = fixture.MakeForm();
    for (int i = 0; i < 10005; ++i) {
      form->AddPlainLine(QString::number(i));
    }
    QCOMPARE(form->LogsMemo->blockCount(), 10000);
    QVERIFY(form->LogsMemo->toPlainText().startsWith("5\n"));
    QVERIFY(form->LogsMemo->toPlainText().endsWith("\n10004"));
  }

  void TabOrder() {
    FormFixture fixture;
    const auto form = fixture.MakeForm();
    const QStringList expected{"StartButton",      "LogsMemo",    "LimitEdit",
                               "UseProxyCheckBox", "PauseButton", "StopButton",
                               "CitiesListBox",    "CatsListBox", "IntervalSpinEdit"};
    QStringList order;
    QWidget* widget = form->StartButton;
    do {
      if (expected.contains(widget->objectName()) && !order.contains(widget->objectName())) {
        order << widget->objectName();
      }
      widget = widget->nextInFocusChain();
    } while (widget != form->StartButton);
    QCOMPARE(order, expected);
  }

  void AnchorsFollowAResize() {
    FormFixture fixture;
    const auto form = fixture.MakeForm();
    form->show();
    form->resize(1390, 847);
    QCOMPARE(form->Label1->geometry(), QRect(8, 8, 158, 26));
    QCOMPARE(form->CitiesListBox->geometry(), QRect(8, 40, 173, 735));
    QCOMPARE(form->CatsListBox->geometry(), QRect(187, 40, 366, 735));
    QCOMPARE(form->LogsMemo->geometry(), QRect(559, 40, 823, 734));
    QCOMPARE(form->StartButton->geometry(), QRect(8, 781, 253, 43));
    QCOMPARE(form->StopButton->geometry(), QRect(267, 806, 75, 18));
    QCOMPARE(form->IntervalSpinEdit->geometry(), QRect(703, 783, 43, 21));
    QCOMPARE(form->Label6->geometry(), QRect(763, 780, 423, 39));
    QCOMPARE(form->ProgressBar->geometry(), QRect(0, 830, 1390, 17));
    form->resize(1290, 747);
    QCOMPARE(form->LogsMemo->geometry(), QRect(559, 40, 723, 634));
  }

  void MissingListFilesKeepThePlaceholders() {
    FormFixture fixture;
    const auto form = fixture.MakeForm();
    QCOMPARE(fixture.messages.size(), std::size_t{2});
    for (const auto& message : fixture.messages) {
      QCOMPARE(message.Icon, MessageIcon::Warning);
      QCOMPARE(message.Caption, QString("Архив распакован не полностью"));
    }
    QCOMPARE(fixture.messages[0].Text,
             QString("Программа не нашла файл с городами, Вам необходимо распаковать архив "
                     "программы полностью, со всеми файлами"));
    QCOMPARE(fixture.messages[1].Text,
             QString("Программа не нашла файл с рубриками, Вам необходимо распаковать архив "
                     "программы полностью, со всеми файлами"));
    QCOMPARE(ItemNames(*form->CitiesListBox), (QStringList{"Список", "Городов"}));
    QCOMPARE(ItemNames(*form->CatsListBox), (QStringList{"категория1", "2"}));
    QVERIFY(!ItemValue(*form->CitiesListBox, 0).has_value());
    QVERIFY(!ItemValue(*form->CatsListBox, 1).has_value());
    // Selected, the placeholders reach a run as items without a value.
    form->CitiesListBox->item(1)->setSelected(true);
    form->CatsListBox->item(0)->setSelected(true);
    const mirava::engine::RunRequest request = form->MakeRunRequest();
    QCOMPARE(request.Cities.size(), std::size_t{1});
    QVERIFY(!request.Cities[0].has_value());
    QCOMPARE(request.Categories.size(), std::size_t{1});
    QVERIFY(!request.Categories[0].has_value());
  }

  void ListsComeFromTheirFiles() {
    FormFixture fixture;
    // cities.txt in the system code page without a mark and with LF; categories with a TAB.
    fixture.Write("cities.txt", "Омск=https://m/omsk/\nТула=http://m/tula/?a=b");
    fixture.Write("categories.txt",
                  kBom + QByteArray("Бары\tи пабы=food/bars/\r\nКафе=food/cafe/\r\n"));
    const auto form = fixture.MakeForm();
    form->show();
    QCoreApplication::processEvents();
    QVERIFY(fixture.messages.empty());
    QCOMPARE(ItemNames(*form->CitiesListBox), (QStringList{"Омск", "Тула"}));
    const QListWidget& cities = *form->CitiesListBox;
    QCOMPARE(ItemValue(cities, 0).value(), std::string("https://m/omsk/"));
    QCOMPARE(ItemValue(cities, 1).value(), std::string("http://m/tula/?a=b"));
    QCOMPARE(ItemNames(*form->CatsListBox), (QStringList{"Бары     и пабы", "Кафе"}));
    QCOMPARE(ItemValue(*form->CatsListBox, 0).value(), std::string("food/bars/"));

    // A start hands the run the selected values in list order, the limits, the proxy switch and
    // the folder.
    form->CitiesListBox->item(1)->setSelected(true);
    form->CitiesListBox->item(0)->setSelected(true);
    form->CatsListBox->item(1)->setSelected(true);
    form->LimitEdit->setValue(7);
    form->IntervalSpinEdit->setValue(3);
    form->UseProxyCheckBox->setChecked(true);
    const mirava::engine::RunRequest request = form->MakeRunRequest();
    using Values = std::vector<std::optional<std::string>>;
    QCOMPARE(request.Cities, (Values{"https://m/omsk/", "http://m/tula/?a=b"}));
    QCOMPARE(request.Categories, (Values{"food/cafe/"}));
    QCOMPARE(request.ThreadsLimit, 7);
    QCOMPARE(request.IntervalSec, 3);
    QVERIFY(request.UseProxy);
    QCOMPARE(QString::fromStdString(request.Folder), fixture.Path(""));
  }

  // Mistakes in the list files are skipped and told at start-up: one message box for both files,
  // one log line for each, naming the file and the line numbers; an empty file says so.
  void ListFileMistakesAreToldOnceAtStartUp() {
    FormFixture fixture;
    fixture.Write("cities.txt", "Омск= https://m/omsk/ \nnoequals\n\nТула=a=b\n=https://m/x/");
    fixture.Write("categories.txt", kBom + QByteArray("\r\n\r\n"));
    const auto form = fixture.MakeForm();
    form->show();
    QCOMPARE(ItemNames(*form->CitiesListBox), QStringList{"Омск"});
    QCOMPARE(ItemValue(*form->CitiesListBox, 0).value(), std::string("https://m/omsk/"));
    QCOMPARE(form->CatsListBox->count(), 0);
    QTRY_COMPARE(fixture.messages.size(), std::size_t{1});
    const auto& message = fixture.messages[0];
    QCOMPARE(message.Icon, MessageIcon::Warning);
    QVERIFY2(message.Text.contains("В файле cities.txt пропущены строки с ошибками (3), номера "
                                   "строк: 2, 4, 5"),
             qPrintable(message.Text));
    QVERIFY2(message.Text.contains("Файл categories.txt пуст"), qPrintable(message.Text));
    QVERIFY2(!message.Text.contains("noequals"), qPrintable(message.Text));
    const QStringList log = form->LogsMemo->toPlainText().split('\n');
    QCOMPARE(log.filter("cities.txt").size(), 1);
    QCOMPARE(log.filter("categories.txt").size(), 1);
    QVERIFY(log.filter("cities.txt")[0].startsWith(mirava::testing::kStamp));
  }

  void OneLineCategoryFileGivesAnEmptyList() {
    FormFixture fixture;
    fixture.WriteLists({"Омск=https://m/omsk/"}, {"Кафе=food/cafe/"});
    const auto form = fixture.MakeForm();
    QVERIFY(fixture.messages.empty());
    QCOMPARE(form->CatsListBox->count(), 0);
    QCOMPARE(ItemNames(*form->CitiesListBox), QStringList{"Омск"});
  }

  // The saved selection comes back by its rules, and the names that no longer exist are
  // reported once, as plain text after the greeting.
  void ShowRestoresTheSavedSelection() {
    FormFixture fixture;
    // Longer than the lists show, so that they can scroll.
    QStringList filler;
    QStringList city_filler;
    for (int i = 0; i < 80; ++i) {
      filler << QString("Пункт %1=x/").arg(i);
      city_filler << QString("Пункт %1=https://m/x/").arg(i);
    }
    fixture.WriteLists(kCities + city_filler, kCategories + filler);
    fixture.Write("selection1.txt", "омск\r\nБарнаул \r\n");
    // Written by another tool: no mark, so read in the system code page.
    fixture.Write("selection2.txt", " бары\r\nкафе\r\nСуши\r\nРыба\r\n");
    const auto form = fixture.MakeForm();
    form->show();
    QCOMPARE(SelectedNames(*form->CitiesListBox), (QStringList{"Омск", "Омск"}));
    QCOMPARE(SelectedNames(*form->CatsListBox), (QStringList{"Бары ", "Кафе"}));
    QVERIFY(!form->CatsListBox->item(4)->isSelected());  // the second "Кафе"
    QCOMPARE(form->LogsMemo->toPlainText(),
             QString("Спасибо, что пользуетесь парсером от сервиса Tervona!\n"
                     "Не удалось отметить рубрики:\nСуши\nРыба\n"));
    // A selection below the first item moves each list one line down.
    QCOMPARE(form->CitiesListBox->verticalScrollBar()->value(), 1);
    QCOMPARE(form->CatsListBox->verticalScrollBar()->value(), 1);
  }

  void MissingSelectionFilesSelectTheDefaults() {
    FormFixture fixture;
    fixture.WriteLists(kCities, {"Автосервисы=a/", "Кафе=b/"});
    const auto form = fixture.MakeForm();
    form->show();
    QCOMPARE(SelectedNames(*form->CitiesListBox), QStringList{"Барнаул"});
    QVERIFY(SelectedNames(*form->CatsListBox).isEmpty());
    QVERIFY(form->LogsMemo->toPlainText().endsWith("\nНе удалось отметить рубрики:\nЧип-тюнинг\n"));
  }

  void EmptySelectionFilesSelectNothing() {
    FormFixture fixture;
    fixture.WriteLists(kCities, kCategories);
    fixture.Write("selection1.txt", "");
    fixture.Write("selection2.txt", kBom);
    const auto form = fixture.MakeForm();
    form->show();
    QVERIFY(SelectedNames(*form->CitiesListBox).isEmpty());
    QVERIFY(SelectedNames(*form->CatsListBox).isEmpty());
    QCOMPARE(form->LogsMemo->toPlainText(),
             QString("Спасибо, что пользуетесь парсером от сервиса Tervona!"));
    QCOMPARE(form->CitiesListBox->verticalScrollBar()->value(), 0);
  }

  void SettingsAtStart_data() {
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<bool>("proxy");
    QTest::addColumn<int>("threads");
    QTest::addColumn<int>("interval");
    QTest::newRow("no file") << QByteArray("<none>") << false << 1 << 10;
    QTest::newRow("stored interval survives")
        << QByteArray("[Settings]\r\nUseProxy=0\r\nThreads=4\r\nInterval=25\r\n") << false << 4
        << 25;
    QTest::newRow("stored interval with proxies")
        << QByteArray("[Settings]\r\nUseProxy=1\r\nThreads=8\r\nInterval=3\r\n") << true << 8 << 3;
    QTest::newRow("no interval: the proxy rule decides")
        << QByteArray("[Settings]\r\nUseProxy=1\r\n") << true << 1 << 0;
    QTest::newRow("not numbers: defaults")
        << QByteArray("[Settings]\r\nUseProxy=yes\r\nThreads=many\r\nInterval=\r\n") << false << 1
        << 10;
    QTest::newRow("out of the editors' ranges")
        << QByteArray("[Settings]\r\nThreads=5000\r\nInterval=-5\r\n") << false << 1000 << 0;
  }
  void SettingsAtStart() {
    QFETCH(QByteArray, ini);
    QFETCH(bool, proxy);
    QFETCH(int, threads);
    QFETCH(int, interval);
    FormFixture fixture;
    fixture.WriteLists(kCities, kCategories);
    if (ini != "<none>") {
      fixture.Write("settings.ini", ini);
    }
    const auto form = fixture.MakeForm();
    form->show();
    QCOMPARE(form->UseProxyCheckBox->isChecked(), proxy);
    QCOMPARE(form->LimitEdit->value(), threads);
    QCOMPARE(form->IntervalSpinEdit->value(), interval);
  }

  void ProxyClickSetsTheInterval() {
    FormFixture fixture;
    const auto form = fixture.MakeForm();
    form->show();
    form->IntervalSpinEdit->setValue(33);
    QTest::mouseClick(form->UseProxyCheckBox, Qt::LeftButton, {},
                      QPoint(6, form->UseProxyCheckBox->height() / 2));
    QVERIFY(form->UseProxyCheckBox->isChecked());
    QCOMPARE(form->IntervalSpinEdit->value(), 0);
    form->IntervalSpinEdit->setValue(5);
    QTest::mouseClick(form->UseProxyCheckBox, Qt::LeftButton, {},
                      QPoint(6, form->UseProxyCheckBox->height() / 2));
    QVERIFY(!form->UseProxyCheckBox->isChecked());
    QCOMPARE(form->IntervalSpinEdit->value(), 10);
  }

  void CtrlASelectsTheWholeLog() {
    FormFixture fixture;
    const auto form = fixture.MakeForm();
    form->show();
    form->LogsMemo->setPlainText("одна\nдве");
    for (const auto modifiers : {Qt::KeyboardModifiers(Qt::ControlModifier),
                                 Qt::KeyboardModifiers(Qt::ControlModifier | Qt::ShiftModifier)}) {
      form->LogsMemo->moveCursor(QTextCursor::End);
      QTest::keyClick(form->LogsMemo, Qt::Key_A, modifiers);
      QCOMPARE(form->LogsMemo->textCursor().selectedText(), QString("одна\u2029две"));
    }
    form->LogsMemo->moveCursor(QTextCursor::End);
    QTest::keyClick(form->LogsMemo, Qt::Key_A);
    QCOMPARE(form->LogsMemo->toPlainText(), QString("одна\nдвеa"));
  }

  void StartNeedsACityAndACategory_data() {
    QTest::addColumn<QStringList>("cities");
    QTest::addColumn<QStringList>("categories");
    QTest::addColumn<QString>("line");
    QTest::newRow("nothing selected: the city line wins")
        << QStringList{} << QStringList{} << "Ни один город не выбран, старт невозможен";
    QTest::newRow("no category") << QStringList{"Омск"} << QStringList{}
                                 << "Ни одна рубрика не выбрана, старт невозможен. Кликните по "
                                    "нужной рубрике для её выбора.";
    QTest::newRow("no city") << QStringList{} << QStringList{"Кафе"}
                             << "Ни один город не выбран, старт невозможен";
  }
  void StartNeedsACityAndACategory() {
    QFETCH(QStringList, cities);
    QFETCH(QStringList, categories);
    QFETCH(QString, line);
    FormFixture fixture;
    fixture.WriteLists(kCities, kCategories);
    const auto form = fixture.MakeForm();
    form->show();
    SelectNames(*form->CitiesListBox, cities);
    SelectNames(*form->CatsListBox, categories);
    QTest::mouseClick(form->StartButton, Qt::LeftButton);
    QCOMPARE(form->LogsMemo->toPlainText(), line);  // the greeting was cleared first
    QVERIFY(form->CurrentScraper.expired());
    QVERIFY(form->StartButton->isEnabled());
  }

  // Pause and stop without a run change nothing and log nothing.
  void RunControlsWithoutARunDoNothing() {
    FormFixture fixture;
    const auto form = fixture.MakeForm();
    form->show();
    form->LogsMemo->clear();
    form->ProgressBar->setValue(50);
    form->PauseButtonClick();
    form->StopButtonClick();
    QCOMPARE(form->LogsMemo->toPlainText(), QString());
    QCOMPARE(form->ProgressBar->value(), 50);
  }

  void CloseSavesSettingsAndSelection() {
    FormFixture fixture;
    fixture.WriteLists(kCities, {"Бары\tи пабы=b/", "Кафе=c/", "Суши=s/"});
    fixture.Write("settings.ini", "[Window]\r\nLeft=3\r\n");
    {
      const auto form = fixture.MakeForm();
      form->show();
      SelectNames(*form->CitiesListBox, {"Омск", "Москва"});
      SelectNames(*form->CatsListBox, {"Бары     и пабы", "Суши"});
      form->UseProxyCheckBox->setChecked(true);
      form->LimitEdit->setValue(12);
      form->IntervalSpinEdit->setValue(7);
      QVERIFY(form->close());
      QVERIFY(fixture.exits.empty());
    }
    QCOMPARE(fixture.Read("settings.ini"),
             QByteArray("[Window]\r\nLeft=3\r\n\r\n[Settings]\r\nUseProxy=1\r\nThreads=12\r\n"
                        "Interval=7\r\n"));
    // The system's code page: UTF-8 here, the ANSI code page on Windows.
    QCOMPARE(fixture.Read("selection1.txt"),
             QByteArray::fromStdString(EncodeSystemCodePage(u"Москва\r\nОмск\r\nОмск\r\n")));
    QCOMPARE(fixture.Read("selection2.txt"), kBom + QByteArray("Бары     и пабы\r\nСуши\r\n"));

    // The next start shows the same selection, the widened name included.
    const auto again = fixture.MakeForm();
    again->show();
    QCOMPARE(SelectedNames(*again->CatsListBox), (QStringList{"Бары     и пабы", "Суши"}));
    QCOMPARE(again->IntervalSpinEdit->value(), 7);
    SelectNames(*again->CitiesListBox, {});
    SelectNames(*again->CatsListBox, {});
    again->close();
    QCOMPARE(fixture.Read("selection1.txt"), QByteArray());
    QCOMPARE(fixture.Read("selection2.txt"), kBom);
  }

  // A file that cannot be written is reported once, naming it; the rest is still saved and the
  // window still closes.
  void CloseReportsAFileItCannotWrite() {
    FormFixture fixture;
    fixture.WriteLists(kCities, kCategories);
    QVERIFY(QDir().mkdir(fixture.Path("selection1.txt")));
    const auto form = fixture.MakeForm();
    form->show();
    QVERIFY(form->close());
    QVERIFY(!form->isVisible());
    QCOMPARE(fixture.messages.size(), std::size_t{1});
    QCOMPARE(fixture.messages[0].Icon, MessageIcon::Warning);
    QVERIFY(fixture.messages[0].Text.startsWith("Не удалось сохранить файл " +
                                                fixture.Path("selection1.txt") + ": "));
    QVERIFY(!fixture.messages[0].Text.contains("\n"));
    QVERIFY(fixture.Read("settings.ini").startsWith("[Settings]\r\n"));
    QCOMPARE(fixture.Read("selection2.txt"), kBom + QByteArray("Чип-тюнинг\r\n"));
  }

  // Started from a temporary folder: the warning, then the process ends; nothing further is
  // loaded and nothing is saved.
  void FailedFolderCheckEndsTheProcess() {
    FormFixture fixture("TEMP");
    fixture.WriteLists(kCities, kCategories);
    fixture.Write("settings.ini", "[Settings]\r\nThreads=9\r\n");
    const auto form = fixture.MakeForm();
    form->show();
    QCOMPARE(fixture.messages.size(), std::size_t{1});
    QCOMPARE(fixture.messages[0].Icon, MessageIcon::None);
    QCOMPARE(fixture.messages[0].Caption, QString("Внимание!"));
    QVERIFY(fixture.messages[0].Text.startsWith("Программа запущена из временной папки!\r\n"));
    QCOMPARE(fixture.exits, std::vector<int>{1});
    QCOMPARE(form->LogsMemo->toPlainText(), QString());
    QCOMPARE(form->LimitEdit->value(), 1);
    form->close();
    QCOMPARE(fixture.Read("settings.ini"), QByteArray("[Settings]\r\nThreads=9\r\n"));
    QVERIFY(!QFile::exists(fixture.Path("selection1.txt")));
  }
};

MIRAVA_APP_TEST(MainFormTest)
#include "main_form_test.moc"
