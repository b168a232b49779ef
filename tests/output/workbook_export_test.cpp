#include "output/workbook_export.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <unordered_set>
#include <vector>

#include "tests/output/workbook_reader.h"
#include "tests/support/temp_folder.h"

#include "analysis/organization_row.h"

namespace mirava::output {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

TEST(WorkbookExport, EveryValueArrivesAsExactText) {
  SKIP_WITHOUT_READER();
  TempFolder folder;
  const std::string long_url = "https://mirava.ru/moskva/" + std::string(100, 'a');
  const std::vector<Values> rows = {
      {long_url, "Кафе", "=СУММ(A1:A2)", "ул. Ленина, д. 5", "Москва", "+7 (495) 123-45-67",
       "https://wa.me/0079161234567", "", "007", "", "", ""},
      {"u2", "Бани", "ООО\tРога и копыта", "строка 1\r\nстрока 2", "1E5", "0012345", "TRUE",
       "01.02.2024", " пробел впереди", "12345678901234567890", "-5", "@tg"},
      // Category written unchanged: a quote inside it must not shift the later columns.
      {"u3", "Кафе \"Ромашка\"", "Имя", "", "", "", "", "", "", "", "", ""},
      // A category ending in a quote, then empty values: the next row must stay a row.
      {"u4", "Трубы 1/2\"", "", "", "", "", "", "", "", "", "", ""},
      {"u5", "Трубы", "Последняя", "", "", "", "", "", "", "", "", ""},
  };
  WriteFile(folder / "data1.tab", ResultsFile(rows));

  const WorkbookSummary summary =
      ExportResultsWorkbook(folder / "data1.tab", folder / "data1.xlsx");

  EXPECT_EQ(summary.UsedRows, 6);
  EXPECT_EQ(summary.TruncatedCells, 0);
  Expectations expected;
  expected.used_rows = 6;
  expected.rows = {kHeader, rows[0], rows[1], rows[2], rows[3], rows[4]};
  // The writer turns a TAB or line break into a space; quotes stay as the results file has them.
  expected.rows[2][2] = "ООО Рога и копыта";
  expected.rows[2][3] = "строка 1  строка 2";
  // The long column is capped, a short one stays narrow.
  expected.width_ranges = {{"A", {59, 61}}, {"E", {8, 12}}};
  EXPECT_EQ(CheckWorkbook(folder, folder / "data1.xlsx", expected), "");
}

TEST(WorkbookExport, BytesTheSheetCannotHoldAreReplacedNotFatal) {
  SKIP_WITHOUT_READER();
  TempFolder folder;
  std::string with_nul = "a";
  with_nul += '\0';
  with_nul += "b";
  const Values row = {"u", "\xFF\xFE битые байты", with_nul, "_x0041_ как есть", "\x01\x1F",
                      "\xEF\xBF\xBF", "\xED\xA0\x80", "😀",
                      // The control character is stored as an escape whose "_" must not close
                      // the text in front of it into another escape.
                      "_x0041\x01", "", "", ""};
  WriteFile(folder / "data.tab", ResultsFile({row}));

  EXPECT_EQ(ConvertResultsToWorkbook(folder / "data.tab", folder / "data.xlsx"), 2);

  Expectations expected;
  expected.used_rows = 2;
  expected.rows = {kHeader, row};
  expected.rows[1][1] = "\uFFFD\uFFFD битые байты";
  expected.rows[1][2] = "a\uFFFDb";
  expected.rows[1][5] = "\uFFFD";
  expected.rows[1][6] = "\uFFFD\uFFFD\uFFFD";
  EXPECT_EQ(CheckWorkbook(folder, folder / "data.xlsx", expected), "");
}

TEST(WorkbookExport, FieldsBeyondTheTwelveColumnsAreKept) {
  SKIP_WITHOUT_READER();
  TempFolder folder;
  // A file edited by hand with a TAB inside a value splits it into two fields; nothing may be
  // dropped.
  const Values row = {"u", "Кафе\"\tбар", "Имя", "", "", "", "", "", "", "", "", "TG"};
  WriteFile(folder / "data.tab", "\xEF\xBB\xBF" + RawLine(kHeader) + RawLine(row));

  EXPECT_EQ(ConvertResultsToWorkbook(folder / "data.tab", folder / "data.xlsx"), 2);

  Expectations expected;
  expected.used_rows = 2;
  expected.rows = {kHeader, {"u", "Кафе", "бар\"", "Имя", "", "", "", "", "", "", "", "", "TG"}};
  EXPECT_EQ(CheckWorkbook(folder, folder / "data.xlsx", expected), "");
}

TEST(WorkbookExport, RunWithoutOrganizationsGivesTheHeaderOnly) {
  SKIP_WITHOUT_READER();
  TempFolder folder;
  WriteFile(folder / "data-7.tab", ResultsFile({}));

  EXPECT_EQ(ConvertResultsToWorkbook(folder / "data-7.tab", folder / "data-7.xlsx"), 1);

  Expectations expected;
  expected.used_rows = 1;
  expected.rows = {kHeader};
  EXPECT_EQ(CheckWorkbook(folder, folder / "data-7.xlsx", expected), "");
}

TEST(WorkbookExport, ReplacesAnExistingWorkbookAndLeavesNoTemporaryFiles) {
  SKIP_WITHOUT_READER();
  TempFolder folder;
  const std::vector<Values> rows(250, Values{"u", "c", "n", "", "", "", "", "", "", "", "", ""});
  WriteFile(folder / "data.tab", ResultsFile(rows));
  WriteFile(folder / "data.xlsx", "an older, longer file that is not a workbook at all");

  EXPECT_EQ(ConvertResultsToWorkbook(folder / "data.tab", folder / "data.xlsx"), 251);

  Expectations expected;
  expected.used_rows = 251;
  expected.rows.push_back(kHeader);
  expected.rows.insert(expected.rows.end(), rows.begin(), rows.end());
  EXPECT_EQ(CheckWorkbook(folder, folder / "data.xlsx", expected), "");
  EXPECT_EQ(FolderEntries(folder.Path()),
            (std::vector<std::string>{"data.tab", "data.xlsx", "expected.json"}));
}

TEST(WorkbookExport, ValuesLongerThanACellAreCutToTheLimit) {
  SKIP_WITHOUT_READER();
  TempFolder folder;
  std::string fits;
  for (int i = 0; i < 32767; ++i) {
    fits += "ж";
  }
  std::string too_long;
  for (int i = 0; i < 40000; ++i) {
    too_long += "я";
  }
  // A character outside the basic plane takes two of the limit's units and is not split.
  const std::string astral_at_the_edge = std::string(32766, 'x') + "😀";
  const Values row = {"u", "c", fits, too_long, astral_at_the_edge, "", "", "", "", "", "", ""};
  WriteFile(folder / "data.tab", ResultsFile({row}));

  const WorkbookSummary summary = ExportResultsWorkbook(folder / "data.tab", folder / "data.xlsx");

  EXPECT_EQ(summary.TruncatedCells, 2);
  Expectations expected;
  expected.used_rows = 2;
  expected.rows = {kHeader, row};
  expected.rows[1][3] = too_long.substr(0, 2 * 32767);  // two bytes a letter
  expected.rows[1][4] = std::string(32766, 'x');
  EXPECT_EQ(CheckWorkbook(folder, folder / "data.xlsx", expected), "");
}

TEST(WorkbookExport, MissingResultsFileIsReportedWithItsPath) {
  TempFolder folder;
  const std::string results = folder / "data404.tab";
  try {
    ConvertResultsToWorkbook(results, folder / "data404.xlsx");
    FAIL() << "no exception";
  } catch (const std::runtime_error& error) {
    EXPECT_THAT(error.what(), HasSubstr("Не удалось прочитать файл результатов " + results));
    EXPECT_THAT(error.what(), HasSubstr("No such file or directory"));
  }
  EXPECT_TRUE(FolderEntries(folder.Path()).empty());
}

TEST(WorkbookExport, UnwritableWorkbookIsReportedAndTheResultsFileStaysAsItWas) {
  TempFolder folder;
  const std::string results = folder / "data.tab";
  const std::string bytes = ResultsFile({{"u", "c", "n", "", "", "", "", "", "", "", "", ""}});
  WriteFile(results, bytes);
  const std::string workbook = folder / "no-such-folder/data.xlsx";
  try {
    ConvertResultsToWorkbook(results, workbook);
    FAIL() << "no exception";
  } catch (const std::runtime_error& error) {
    EXPECT_THAT(error.what(), HasSubstr("Не удалось сохранить книгу " + workbook));
    EXPECT_THAT(error.what(), HasSubstr("No such file or directory"));
  }
  EXPECT_EQ(ReadFile(results), bytes);
  EXPECT_EQ(FolderEntries(folder.Path()), std::vector<std::string>{"data.tab"});
}

TEST(WorkbookExport, MoreRowsThanASheetHoldsFailsBeforeWritingAnything) {
  TempFolder folder;
  std::string bytes = "\xEF\xBB\xBF";
  bytes.reserve(6 * 1048577);
  for (int i = 0; i < 1048577; ++i) {
    bytes += "\"x\"\r\n";
  }
  WriteFile(folder / "data.tab", bytes);
  try {
    ConvertResultsToWorkbook(folder / "data.tab", folder / "data.xlsx");
    FAIL() << "no exception";
  } catch (const std::runtime_error& error) {
    EXPECT_THAT(error.what(), HasSubstr("больше 1048576 строк"));
  }
  EXPECT_EQ(FolderEntries(folder.Path()), std::vector<std::string>{"data.tab"});
}

// The "Новые" sheet: the rows of organizations new to the run, with the first sheet's look.
struct NewSheetCase {
  const char* Name;
  std::string ResultsName;  // the first sheet's name
  std::unordered_set<std::string> NewIdentities;
  std::vector<std::size_t> NewRows;  // indices into kNewSheetRows, in the order expected
  std::string SecondSheetName;
};

void PrintTo(const NewSheetCase& c, std::ostream* out) {
  *out << c.Name;
}

const std::vector<Values> kNewSheetRows = {
    {"https://mirava.ru/org/1/", "Кафе", "Первое", "", "", "", "", "", "", "", "", ""},
    {"https://mirava.ru/org/2/", "Кафе", "=СУММ(A1:A2)", "ул. Ленина, 5", "", "007", "", "", "", "",
     "", ""},
    // The link in the file in another letter case than the base folded it to.
    {"https://mirava.ru/ORG/Кафе-3/", "Кафе", "Третье", "", "", "", "", "", "", "", "", ""},
    // The widest value is not new: the new sheet's columns are as wide as the first sheet's.
    {"https://mirava.ru/org/4/", "Кафе", std::string(70, 'w'), "", "", "", "", "", "", "", "", ""},
    {"https://mirava.ru/org/5/", "Бани", "Пятое", "", "", "+7 900", "", "", "", "", "", "@tg"},
};

class NewSheetTest : public ::testing::TestWithParam<NewSheetCase> {};

TEST_P(NewSheetTest, HoldsTheNewRowsInFileOrderWithTheFirstSheetsLook) {
  SKIP_WITHOUT_READER();
  const NewSheetCase& c = GetParam();
  TempFolder folder;
  const std::string results = folder / (c.ResultsName + ".tab");
  WriteFile(results, ResultsFile(kNewSheetRows));

  const WorkbookSummary summary =
      ExportResultsWorkbook(results, folder / "data.xlsx", c.NewIdentities);

  // The summary and the first sheet are those of every row.
  EXPECT_EQ(summary.UsedRows, 6);
  Expectations first;
  first.sheet_names = {c.ResultsName, c.SecondSheetName};
  first.used_rows = 6;
  first.rows = {kHeader};
  first.rows.insert(first.rows.end(), kNewSheetRows.begin(), kNewSheetRows.end());
  first.width_ranges = {{"C", {59, 61}}};
  EXPECT_EQ(CheckWorkbook(folder, folder / "data.xlsx", first), "");

  Expectations second = first;
  second.sheet = 1;
  second.widths_as_sheet = 0;
  second.rows = {kHeader};
  for (const std::size_t row : c.NewRows) {
    second.rows.push_back(kNewSheetRows[row]);
  }
  second.used_rows = static_cast<long long>(second.rows.size());
  EXPECT_EQ(CheckWorkbook(folder, folder / "data.xlsx", second), "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NewSheetTest,
    ::testing::Values(
        NewSheetCase{"SomeRowsAreNew",
                     "data1",
                     {"https://mirava.ru/org/5/", "https://mirava.ru/org/кафе-3/",
                      "https://mirava.ru/org/2/", "https://mirava.ru/org/99/"},
                     {1, 2, 4},
                     "Новые"},
        NewSheetCase{"NoneIsNew", "data1", {}, {}, "Новые"},
        NewSheetCase{"EveryRowIsNew",
                     "data1",
                     {"https://mirava.ru/org/1/", "https://mirava.ru/org/2/",
                      "https://mirava.ru/org/кафе-3/", "https://mirava.ru/org/4/",
                      "https://mirava.ru/org/5/"},
                     {0, 1, 2, 3, 4},
                     "Новые"},
        // Two sheets may not share a name in any letter case; the first keeps its own.
        NewSheetCase{"AResultsFileNamedLikeTheNewSheet",
                     "новые",
                     {"https://mirava.ru/org/1/"},
                     {0},
                     "Sheet2"}),
    [](const ::testing::TestParamInfo<NewSheetCase>& info) { return info.param.Name; });

TEST(WorkbookExport, TheNewSheetLeavesTheFirstSheetAsItWas) {
  SKIP_WITHOUT_READER();
  TempFolder folder;
  WriteFile(folder / "data1.tab", ResultsFile(kNewSheetRows));
  ExportResultsWorkbook(folder / "data1.tab", folder / "one.xlsx");
  ExportResultsWorkbook(folder / "data1.tab", folder / "two.xlsx", {"https://mirava.ru/org/2/"});

  for (const char* part : {"xl/worksheets/sheet1.xml", "xl/styles.xml"}) {
    SCOPED_TRACE(part);
    const std::string alone = WorkbookPart(folder / "one.xlsx", part);
    ASSERT_THAT(alone, StartsWith("<?xml"));
    EXPECT_EQ(WorkbookPart(folder / "two.xlsx", part), alone);
  }
  // Without new organizations given, the workbook is the one sheet.
  Expectations expected;
  expected.used_rows = 6;
  expected.rows = {kHeader};
  expected.rows.insert(expected.rows.end(), kNewSheetRows.begin(), kNewSheetRows.end());
  expected.width_ranges = {{"C", {59, 61}}};
  EXPECT_EQ(CheckWorkbook(folder, folder / "one.xlsx", expected), "");
}

}  // namespace
}  // namespace mirava::output
