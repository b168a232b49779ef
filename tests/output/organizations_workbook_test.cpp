#include "output/organizations_workbook.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "analysis/organization_row.h"
#include "tests/output/workbook_reader.h"

namespace mirava::output {
namespace {

using ::testing::HasSubstr;

// The results file's twelve titles, then the two dates'.
const Values kTitles = [] {
  Values titles = kHeader;
  titles.insert(titles.end(), {"Впервые найдена", "Последний раз найдена"});
  return titles;
}();

OrganizationsRow ToRow(const Values& values) {
  OrganizationsRow row;
  std::copy(values.begin(), values.end(), row.begin());
  return row;
}

// A caller that lists `rows` and counts how often it was asked.
struct Lister {
  std::vector<Values> Rows;
  int Calls = 0;

  void operator()(const EmitOrganization& emit) {
    ++Calls;
    for (const Values& values : Rows) {
      emit(ToRow(values));
    }
  }
};

TEST(OrganizationsWorkbook, EveryOrganizationArrivesAsTextUnderTheFourteenTitles) {
  SKIP_WITHOUT_READER();
  TempFolder folder;
  Lister lister;
  lister.Rows = {
      {"https://mirava.ru/org/" + std::string(80, '1') + "/", "Автосервисы", "=СУММ(A1:A2)",
       "Барнаул, ул. Ленина, 5", "Барнаул", "+7 (3852) 20-30-40", "https://wa.me/79001234567", "",
       "007", "", "", "", "01.02.2024", "15.03.2025"},
      {"https://mirava.ru/org/2/", "Шиномонтаж", "Колесо", "", "Казань", "", "", "", "", "", "",
       "@tg", "31.12.2023", "31.12.2023"},
      {"https://mirava.ru/org/3/", "Шиномонтаж", "", "", "", "", "", "", "", "", "", "", "", ""},
  };
  const std::string workbook = folder / "База.xlsx";

  const WorkbookSummary summary =
      WriteOrganizationsWorkbook(workbook, [&](const EmitOrganization& emit) { lister(emit); });

  EXPECT_EQ(lister.Calls, 1);
  EXPECT_EQ(summary.UsedRows, 4);
  EXPECT_EQ(summary.TruncatedCells, 0);
  Expectations expected;
  expected.sheet_names = {"Организации"};
  expected.autofilter = "A1:N1";
  expected.used_rows = 4;
  expected.rows = {kTitles};
  expected.rows.insert(expected.rows.end(), lister.Rows.begin(), lister.Rows.end());
  // Measured over every row although the rows were written before the widths were set: the long
  // link caps its column, the dates' columns are as wide as their titles.
  expected.width_ranges = {{"A", {59, 61}}, {"E", {8, 12}}, {"M", {18, 20}}, {"N", {24, 26}}};
  EXPECT_EQ(CheckWorkbook(folder, workbook, expected), "");
  EXPECT_EQ(FolderEntries(folder.Path()), (std::vector<std::string>{"expected.json", "База.xlsx"}));
}

TEST(OrganizationsWorkbook, NoOrganizationsGiveTheTitlesOnly) {
  SKIP_WITHOUT_READER();
  TempFolder folder;
  const WorkbookSummary summary =
      WriteOrganizationsWorkbook(folder / "base.xlsx", [](const EmitOrganization&) {});

  EXPECT_EQ(summary.UsedRows, 1);
  Expectations expected;
  expected.sheet_names = {"Организации"};
  expected.autofilter = "A1:N1";
  expected.used_rows = 1;
  expected.rows = {kTitles};
  EXPECT_EQ(CheckWorkbook(folder, folder / "base.xlsx", expected), "");
}

// However the writing fails, an earlier workbook stays as it was and nothing is left beside it.
TEST(OrganizationsWorkbook, AFailureLeavesTheEarlierWorkbookAsItWas) {
  struct Case {
    const char* Name;
    std::function<void(const EmitOrganization&)> List;
    const char* Message;
  };
  const Values row = {"https://mirava.ru/org/1/",
                      "Кафе",
                      "",
                      "",
                      "",
                      "",
                      "",
                      "",
                      "",
                      "",
                      "",
                      "",
                      "01.02.2024",
                      "01.02.2024"};
  const Case cases[] = {
      {"the caller's listing fails",
       [&](const EmitOrganization& emit) {
         emit(ToRow(row));
         throw std::runtime_error("База организаций недоступна");
       },
       "База организаций недоступна"},
      {"more organizations than a sheet holds",
       [&](const EmitOrganization& emit) {
         const OrganizationsRow small =
             ToRow({"u", "", "", "", "", "", "", "", "", "", "", "", "", ""});
         for (int i = 0; i < 1048576; ++i) {
           emit(small);
         }
       },
       "организаций больше 1048575, столько не помещается на лист книги"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TempFolder folder;
    const std::string workbook = folder / "base.xlsx";
    WriteFile(workbook, "the earlier workbook");
    try {
      WriteOrganizationsWorkbook(workbook, c.List);
      ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& error) {
      EXPECT_THAT(error.what(), HasSubstr(c.Message));
    }
    EXPECT_EQ(ReadFile(workbook), "the earlier workbook");
    EXPECT_EQ(FolderEntries(folder.Path()), std::vector<std::string>{"base.xlsx"});
  }
}

TEST(OrganizationsWorkbook, UnwritableWorkbookIsReportedWithItsPath) {
  TempFolder folder;
  const std::string workbook = folder / "no-such-folder/base.xlsx";
  bool listed = false;
  try {
    WriteOrganizationsWorkbook(workbook, [&](const EmitOrganization&) { listed = true; });
    FAIL() << "no exception";
  } catch (const std::runtime_error& error) {
    EXPECT_THAT(error.what(), HasSubstr("Не удалось сохранить книгу " + workbook));
    EXPECT_THAT(error.what(), HasSubstr("No such file or directory"));
  }
  // Refused before the caller is asked for its organizations.
  EXPECT_FALSE(listed);
}

}  // namespace
}  // namespace mirava::output
