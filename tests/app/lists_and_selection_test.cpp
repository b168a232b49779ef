#include <QTest>
#include <string>
#include <vector>

#include "app/folder_checks.h"
#include "app/list_files.h"
#include "app/selection.h"
#include "app_test_main.h"

using Names = std::vector<std::u16string>;

namespace {

Names FromQt(const QStringList& list) {
  Names names;
  for (const QString& text : list) {
    names.push_back(text.toStdU16String());
  }
  return names;
}

}  // namespace

class ListsAndSelectionTest : public QObject {
  Q_OBJECT

 private slots:
  void ParsesListLines_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("value");
    QTest::newRow("name and value") << "Барнаул=https://x/barnaul/"
                                    << "Барнаул"
                                    << "https://x/barnaul/";
    QTest::newRow("only the first = splits") << "a=b=c"
                                             << "a"
                                             << "b=c";
    QTest::newRow("nothing trimmed") << " a = b "
                                     << " a "
                                     << " b ";
    QTest::newRow("no =") << "whole line"
                          << ""
                          << "whole line";
    QTest::newRow("empty line") << ""
                                << ""
                                << "";
  }
  void ParsesListLines() {
    QFETCH(QString, line);
    QFETCH(QString, name);
    QFETCH(QString, value);
    const auto item = mirava::app::ParseListLine(line.toStdU16String());
    QCOMPARE(QString::fromStdU16String(item.Name), name);
    QCOMPARE(QString::fromStdU16String(item.Value), value);
  }

  void CategoryListsNeedTwoLinesAndWidenTabs() {
    QVERIFY(mirava::app::ParseCategoryLines({u"Один=a/"}).Items.empty());
    QVERIFY(mirava::app::ParseCategoryLines({u"Один=a/"}).SkippedLines.empty());
    QCOMPARE(mirava::app::ParseCityLines({u"Один=http://x/"}).Items.size(), std::size_t{1});
    const auto items = mirava::app::ParseCategoryLines({u"a\tb=x\ty", u"c="}).Items;
    QCOMPARE(items.size(), std::size_t{2});
    QCOMPARE(items[0].Name, std::u16string(u"a     b"));
    QCOMPARE(items[0].Value, std::u16string(u"x\ty"));  // only names are widened
    QCOMPARE(mirava::app::ParseCityLines({u"a\tb=http://x/"}).Items[0].Name,
             std::u16string(u"a\tb"));
  }

  // Mistakes are skipped and their line numbers noted; values lose their blanks, names keep them
  // (the saved selection is matched against them); blank lines are no mistake.
  void ListFileMistakesAreSkippedByLineNumber() {
    using mirava::app::ListFileItems;
    const std::vector<std::u16string> cities = {
        u"Барнаул= https://x/barnaul/ ",  // 1: value trimmed
        u"",                              // 2: blank, left out silently
        u"Москва",                        // 3: no "="
        u"=https://x/nameless/",          // 4: no name
        u"  \t=https://x/blank-name/",    // 5: a blank name
        u"Казань=x/kazan/",               // 6: not an address
        u"Омск=ftp://x/omsk/",            // 7: not a web address
        u"Сочи=HTTP://X/sochi/",          // 8: letter case of the scheme does not matter
        u"Тула=https://",                 // 9: a scheme alone
        u" Уфа =http://x/ufa/",           // 10: the name as written
    };
    const ListFileItems parsed_cities = mirava::app::ParseCityLines(cities);
    QCOMPARE(parsed_cities.SkippedLines, (std::vector<std::size_t>{3, 4, 5, 6, 7, 9}));
    QCOMPARE(parsed_cities.Items.size(), std::size_t{3});
    QCOMPARE(parsed_cities.Items[0].Value, std::u16string(u"https://x/barnaul/"));
    QCOMPARE(parsed_cities.Items[1].Name, std::u16string(u"Сочи"));
    QCOMPARE(parsed_cities.Items[2].Name, std::u16string(u" Уфа "));

    // Categories carry address pieces, not addresses.
    const ListFileItems parsed_categories =
        mirava::app::ParseCategoryLines({u"Кафе= kafe/ ", u"Бары", u"", u"=bary/", u"Пустая="});
    QCOMPARE(parsed_categories.SkippedLines, (std::vector<std::size_t>{2, 4}));
    QCOMPARE(parsed_categories.Items.size(), std::size_t{2});
    QCOMPARE(parsed_categories.Items[0].Value, std::u16string(u"kafe/"));

    const auto problem = mirava::app::ListFileProblem("cities.txt", cities, parsed_cities);
    QVERIFY(problem);
    const QString text = QString::fromStdString(*problem);
    QVERIFY2(text.contains("cities.txt") && text.contains("3, 4, 5, 6, 7, 9"), qPrintable(text));
    QVERIFY2(!text.contains("Москва") && !text.contains("Казань"), qPrintable(text));
    QVERIFY2(text.contains("http://"), qPrintable(text));

    QVERIFY(
        !mirava::app::ListFileProblem("cities.txt", {u"Барнаул=https://x/", u""},
                                      mirava::app::ParseCityLines({u"Барнаул=https://x/", u""})));
    for (const std::vector<std::u16string>& empty :
         {std::vector<std::u16string>{}, std::vector<std::u16string>{u" ", u""}}) {
      const auto said = mirava::app::ListFileProblem("categories.txt", empty,
                                                     mirava::app::ParseCategoryLines(empty));
      QVERIFY(said);
      QVERIFY2(QString::fromStdString(*said).contains("categories.txt пуст"), said->c_str());
    }
  }

  void EncodesSelectionFiles() {
    const Names names{u"Барнаул", u"Омск"};
    QCOMPARE(QByteArray::fromStdString(mirava::app::EncodeCitySelection(names)),
             QByteArray("Барнаул\r\nОмск\r\n"));
    QCOMPARE(QByteArray::fromStdString(mirava::app::EncodeCategorySelection(names)),
             QByteArray("\xEF\xBB\xBFБарнаул\r\nОмск\r\n"));
    QCOMPARE(QByteArray::fromStdString(mirava::app::EncodeCitySelection({})), QByteArray());
    QCOMPARE(QByteArray::fromStdString(mirava::app::EncodeCategorySelection({})),
             QByteArray("\xEF\xBB\xBF"));
  }

  void MatchesCategories_data() {
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<QStringList>("saved");
    QTest::addColumn<QList<bool>>("selected");
    QTest::addColumn<QStringList>("unmatched");
    QTest::newRow("both sides trimmed") << QStringList{"Бары ", "Кафе"} << QStringList{" бары\t"}
                                        << QList<bool>{true, false} << QStringList{};
    QTest::newRow("Cyrillic case ignored") << QStringList{"Чип-тюнинг"} << QStringList{"ЧИП-ТЮНИНГ"}
                                           << QList<bool>{true} << QStringList{};
    QTest::newRow("a saved name selects one item")
        << QStringList{"Кафе", "Кафе"} << QStringList{"Кафе"} << QList<bool>{true, false}
        << QStringList{};
    QTest::newRow("saved twice selects two")
        << QStringList{"Кафе", "Кафе"} << QStringList{"Кафе", "кафе"} << QList<bool>{true, true}
        << QStringList{};
    QTest::newRow("unknown names remain")
        << QStringList{"Кафе"} << QStringList{"Бары", "Кафе", "Суши"} << QList<bool>{true}
        << QStringList{"Бары", "Суши"};
    QTest::newRow("five spaces of a TAB match again")
        << QStringList{"a     b"} << QStringList{"a     b"} << QList<bool>{true} << QStringList{};
  }
  void MatchesCategories() {
    QFETCH(QStringList, items);
    QFETCH(QStringList, saved);
    QFETCH(QList<bool>, selected);
    QFETCH(QStringList, unmatched);
    Names remaining = FromQt(saved);
    const std::vector<bool> result = mirava::app::MatchCategories(FromQt(items), remaining);
    QCOMPARE(QList<bool>(result.begin(), result.end()), selected);
    QCOMPARE(remaining, FromQt(unmatched));
  }

  void MatchesCities_data() {
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<QStringList>("saved");
    QTest::addColumn<QList<bool>>("selected");
    QTest::newRow("case ignored") << QStringList{"Омск", "Томск"} << QStringList{"оМСК"}
                                  << QList<bool>{true, false};
    QTest::newRow("not trimmed") << QStringList{"Омск", "Томск "} << QStringList{"Омск ", "Томск"}
                                 << QList<bool>{false, false};
    QTest::newRow("every equal item") << QStringList{"Омск", "Тула", "Омск"} << QStringList{"Омск"}
                                      << QList<bool>{true, false, true};
  }
  void MatchesCities() {
    QFETCH(QStringList, items);
    QFETCH(QStringList, saved);
    QFETCH(QList<bool>, selected);
    const std::vector<bool> result = mirava::app::MatchCities(FromQt(items), FromQt(saved));
    QCOMPARE(QList<bool>(result.begin(), result.end()), selected);
  }

  void ReportsUnmatchedCategories() {
    QCOMPARE(QString::fromStdU16String(mirava::app::UnmatchedCategoriesText({u"Бары", u"Суши"})),
             QString("Не удалось отметить рубрики:\r\nБары\r\nСуши\r\n"));
  }

  void ChecksTheProgramFolder_data() {
    QTest::addColumn<QString>("folder");
    QTest::addColumn<int>("failed");  // 0: passes
    QTest::newRow("ordinary") << "/home/op/parser/" << 0;
    QTest::newRow("archive viewer") << "/tmp/Rar$EXa0.123/" << 1;
    QTest::newRow("rar$ in lower case passes") << "/home/op/rar$x/" << 0;
    QTest::newRow("Temp") << "/home/op/Temp/x/" << 2;
    QTest::newRow("temp") << "/home/op/temp/" << 2;
    QTest::newRow("TEMP") << "/TEMP/" << 2;
    QTest::newRow("Temp inside a name passes") << "/home/op/Temporary/" << 0;
    QTest::newRow("first failing check wins") << "/Temp/Rar$1/" << 1;
  }
  void ChecksTheProgramFolder() {
    QFETCH(QString, folder);
    QFETCH(int, failed);
    const auto message = mirava::app::FailedFolderCheck(folder.toStdString());
    QCOMPARE(message.has_value(), failed != 0);
    if (failed == 1) {
      QVERIFY(message->starts_with("Вы запустили программу изнутри архива!\r\nДля корректной"));
    } else if (failed == 2) {
      QVERIFY(message->starts_with("Программа запущена из временной папки!\r\nСкорее всего"));
      QVERIFY(message->ends_with("пункт меню \"Извлечь все\""));
    }
  }
};

MIRAVA_APP_TEST(ListsAndSelectionTest)
#include "lists_and_selection_test.moc"
