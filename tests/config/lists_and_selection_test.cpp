#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/folder_checks.h"
#include "config/list_files.h"
#include "config/selection.h"

namespace mirava::config {
namespace {

using Names = std::vector<std::u16string>;

struct ListLineCase {
  const char* Name;
  std::u16string Line;
  std::u16string ItemName;
  std::u16string ItemValue;
};

class ParsesListLines : public ::testing::TestWithParam<ListLineCase> {};

TEST_P(ParsesListLines, NameAndValue) {
  const ListItem item = ParseListLine(GetParam().Line);
  EXPECT_TRUE(item.Name == GetParam().ItemName);
  EXPECT_TRUE(item.Value == GetParam().ItemValue);
}

INSTANTIATE_TEST_SUITE_P(
    ListFiles, ParsesListLines,
    ::testing::Values(ListLineCase{"name_and_value", u"Барнаул=https://x/barnaul/", u"Барнаул",
                                   u"https://x/barnaul/"},
                      ListLineCase{"only_the_first_equals_splits", u"a=b=c", u"a", u"b=c"},
                      ListLineCase{"nothing_trimmed", u" a = b ", u" a ", u" b "},
                      ListLineCase{"no_equals", u"whole line", u"", u"whole line"},
                      ListLineCase{"empty_line", u"", u"", u""}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(ListFiles, CategoryListsNeedTwoLinesAndWidenTabs) {
  EXPECT_TRUE(ParseCategoryLines({u"Один=a/"}).Items.empty());
  EXPECT_TRUE(ParseCategoryLines({u"Один=a/"}).SkippedLines.empty());
  EXPECT_EQ(ParseCityLines({u"Один=http://x/"}).Items.size(), 1u);
  const auto items = ParseCategoryLines({u"a\tb=x\ty", u"c="}).Items;
  ASSERT_EQ(items.size(), 2u);
  EXPECT_TRUE(items[0].Name == u"a     b");
  EXPECT_TRUE(items[0].Value == u"x\ty");  // only names are widened
  EXPECT_TRUE(ParseCityLines({u"a\tb=http://x/"}).Items[0].Name == u"a\tb");
}

// Mistakes are skipped and their line numbers noted; values lose their blanks, names keep them
// (the saved selection is matched against them); blank lines are no mistake.
TEST(ListFiles, MistakesAreSkippedByLineNumber) {
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
  const ListFileItems parsed_cities = ParseCityLines(cities);
  EXPECT_EQ(parsed_cities.SkippedLines, (std::vector<std::size_t>{3, 4, 5, 6, 7, 9}));
  ASSERT_EQ(parsed_cities.Items.size(), 3u);
  EXPECT_TRUE(parsed_cities.Items[0].Value == u"https://x/barnaul/");
  EXPECT_TRUE(parsed_cities.Items[1].Name == u"Сочи");
  EXPECT_TRUE(parsed_cities.Items[2].Name == u" Уфа ");

  // Categories carry address pieces, not addresses.
  const ListFileItems parsed_categories =
      ParseCategoryLines({u"Кафе= kafe/ ", u"Бары", u"", u"=bary/", u"Пустая="});
  EXPECT_EQ(parsed_categories.SkippedLines, (std::vector<std::size_t>{2, 4}));
  ASSERT_EQ(parsed_categories.Items.size(), 2u);
  EXPECT_TRUE(parsed_categories.Items[0].Value == u"kafe/");

  const auto problem = ListFileProblem("cities.txt", cities, parsed_cities);
  ASSERT_TRUE(problem);
  EXPECT_NE(problem->find("cities.txt"), std::string::npos) << *problem;
  EXPECT_NE(problem->find("3, 4, 5, 6, 7, 9"), std::string::npos) << *problem;
  EXPECT_EQ(problem->find("Москва"), std::string::npos) << *problem;
  EXPECT_EQ(problem->find("Казань"), std::string::npos) << *problem;
  EXPECT_NE(problem->find("http://"), std::string::npos) << *problem;

  EXPECT_FALSE(ListFileProblem("cities.txt", {u"Барнаул=https://x/", u""},
                               ParseCityLines({u"Барнаул=https://x/", u""})));
  for (const std::vector<std::u16string>& empty :
       {std::vector<std::u16string>{}, std::vector<std::u16string>{u" ", u""}}) {
    const auto said = ListFileProblem("categories.txt", empty, ParseCategoryLines(empty));
    ASSERT_TRUE(said);
    EXPECT_NE(said->find("categories.txt пуст"), std::string::npos) << *said;
  }
}

TEST(Selection, EncodesSelectionFiles) {
  const Names names{u"Барнаул", u"Омск"};
  // The city selection is in the system's code page: Windows-1251 on a Russian Windows, where the
  // Windows tests run.
#ifdef _WIN32
  EXPECT_EQ(EncodeCitySelection(names), "\xC1\xE0\xF0\xED\xE0\xF3\xEB\r\n\xCE\xEC\xF1\xEA\r\n");
#else
  EXPECT_EQ(EncodeCitySelection(names), "Барнаул\r\nОмск\r\n");
#endif
  EXPECT_EQ(EncodeCategorySelection(names), "\xEF\xBB\xBFБарнаул\r\nОмск\r\n");
  EXPECT_EQ(EncodeCitySelection({}), "");
  EXPECT_EQ(EncodeCategorySelection({}), "\xEF\xBB\xBF");
}

struct CategoryMatchCase {
  const char* Name;
  Names Items;
  Names Saved;
  std::vector<bool> Selected;
  Names Unmatched;
};

class MatchesCategories : public ::testing::TestWithParam<CategoryMatchCase> {};

TEST_P(MatchesCategories, SelectsAndLeavesTheRest) {
  Names remaining = GetParam().Saved;
  EXPECT_EQ(MatchCategories(GetParam().Items, remaining), GetParam().Selected);
  EXPECT_TRUE(remaining == GetParam().Unmatched);
}

INSTANTIATE_TEST_SUITE_P(
    Selection, MatchesCategories,
    ::testing::Values(
        CategoryMatchCase{
            "both_sides_trimmed", {u"Бары ", u"Кафе"}, {u" бары\t"}, {true, false}, {}},
        CategoryMatchCase{"cyrillic_case_ignored", {u"Чип-тюнинг"}, {u"ЧИП-ТЮНИНГ"}, {true}, {}},
        CategoryMatchCase{
            "a_saved_name_selects_one_item", {u"Кафе", u"Кафе"}, {u"Кафе"}, {true, false}, {}},
        CategoryMatchCase{
            "saved_twice_selects_two", {u"Кафе", u"Кафе"}, {u"Кафе", u"кафе"}, {true, true}, {}},
        CategoryMatchCase{"unknown_names_remain",
                          {u"Кафе"},
                          {u"Бары", u"Кафе", u"Суши"},
                          {true},
                          {u"Бары", u"Суши"}},
        CategoryMatchCase{
            "five_spaces_of_a_tab_match_again", {u"a     b"}, {u"a     b"}, {true}, {}}),
    [](const auto& info) { return std::string(info.param.Name); });

struct CityMatchCase {
  const char* Name;
  Names Items;
  Names Saved;
  std::vector<bool> Selected;
};

class MatchesCities : public ::testing::TestWithParam<CityMatchCase> {};

TEST_P(MatchesCities, Selects) {
  EXPECT_EQ(MatchCities(GetParam().Items, GetParam().Saved), GetParam().Selected);
}

INSTANTIATE_TEST_SUITE_P(
    Selection, MatchesCities,
    ::testing::Values(
        CityMatchCase{"case_ignored", {u"Омск", u"Томск"}, {u"оМСК"}, {true, false}},
        CityMatchCase{"not_trimmed", {u"Омск", u"Томск "}, {u"Омск ", u"Томск"}, {false, false}},
        CityMatchCase{
            "every_equal_item", {u"Омск", u"Тула", u"Омск"}, {u"Омск"}, {true, false, true}}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(Selection, ReportsUnmatchedCategories) {
  EXPECT_TRUE(UnmatchedCategoriesText({u"Бары", u"Суши"}) ==
              u"Не удалось отметить рубрики:\r\nБары\r\nСуши\r\n");
}

struct FolderCase {
  const char* Name;
  std::string Folder;
  int Failed;  // 0: passes
  bool CompanionFilesPresent = true;
};

class ChecksTheProgramFolder : public ::testing::TestWithParam<FolderCase> {};

TEST_P(ChecksTheProgramFolder, FirstFailingCheck) {
  const auto message = FailedFolderCheck(GetParam().Folder, GetParam().CompanionFilesPresent);
  ASSERT_EQ(message.has_value(), GetParam().Failed != 0);
  if (GetParam().Failed == 1) {
    EXPECT_TRUE(message->starts_with("Вы запустили программу изнутри архива!\r\nДля корректной"));
  } else if (GetParam().Failed == 2) {
    EXPECT_TRUE(message->starts_with("Программа запущена из временной папки!\r\nСкорее всего"));
    EXPECT_TRUE(message->ends_with("пункт меню \"Извлечь все\""));
  } else if (GetParam().Failed == 3) {
    EXPECT_EQ(*message,
              "Программа не обнаружила необходимые для работы файлы!\r\nВероятно, Вы запустили "
              "программу изнутри архива!\r\nДля корректной работы программы извлеките файлы "
              "программы из архива в отдельную папку. Это можно сделать, кликнув правой кнопкой "
              "мыши на архиве и выбрав пункт меню \"Извлечь все\"");
  }
}

INSTANTIATE_TEST_SUITE_P(
    FolderChecks, ChecksTheProgramFolder,
    ::testing::Values(FolderCase{"ordinary", "/home/op/parser/", 0},
                      FolderCase{"archive_viewer", "/tmp/Rar$EXa0.123/", 1},
                      FolderCase{"rar_in_lower_case_passes", "/home/op/rar$x/", 0},
                      FolderCase{"Temp", "/home/op/Temp/x/", 2},
                      FolderCase{"temp", "/home/op/temp/", 2}, FolderCase{"TEMP", "/TEMP/", 2},
                      FolderCase{"Temp_inside_a_name_passes", "/home/op/Temporary/", 0},
                      FolderCase{"first_failing_check_wins", "/Temp/Rar$1/", 1},
                      FolderCase{"companion_files_missing", "/home/op/parser/", 3, false},
                      FolderCase{"archive_before_missing_files", "/tmp/Rar$EXa0.1/", 1, false},
                      FolderCase{"temp_before_missing_files", "/home/op/Temp/", 2, false}),
    [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace mirava::config
