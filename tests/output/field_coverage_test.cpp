#include "output/field_coverage.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <string>

#include "analysis/organization_row.h"
#include "platform/file_access.h"

namespace mirava::output {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class FieldCoverageTest : public ::testing::Test {
 protected:
  FieldCoverageTest() {
    folder_ = std::filesystem::temp_directory_path() /
              ("mirava-coverage-test-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
  }
  ~FieldCoverageTest() override { std::filesystem::remove_all(folder_); }

  std::string Path(const std::string& name) const { return (folder_ / name).string(); }

  // A results file as a run writes it: mark, header, rows.
  std::string WriteResults(const std::vector<analysis::OrganizationRow>& rows) const {
    std::string bytes = "\xEF\xBB\xBF" + analysis::HeaderLine() + "\r\n";
    for (const auto& row : rows) {
      bytes += analysis::FormatRow(row) + "\r\n";
    }
    const std::string path = Path("data1.tab");
    platform::ReplaceFileContents(path, bytes);
    return path;
  }

  std::filesystem::path folder_;
};

analysis::OrganizationRow Row(const std::string& name, const std::string& phone) {
  analysis::OrganizationRow row;
  row[analysis::kLinkColumn] = "https://mirava.ru/org/" + name + "/";
  row[analysis::kCategoryColumn] = "Кафе";
  row[analysis::kOrganizationColumn] = name;
  row[analysis::kPhoneColumn] = phone;
  return row;
}

TEST_F(FieldCoverageTest, CountsTheRowsOfTheResultsFileWithEachValue) {
  const std::string path = WriteResults({Row("a", "+7 1"), Row("b", ""), Row("c", "+7 3")});
  const FieldCoverage coverage = MeasureFieldCoverage(path);
  EXPECT_EQ(coverage.Rows, 3);
  EXPECT_EQ(coverage.Filled[analysis::kOrganizationColumn], 3);
  EXPECT_EQ(coverage.Filled[analysis::kPhoneColumn], 2);
  EXPECT_EQ(coverage.Filled[analysis::kAddressColumn], 0);
  // Rounded down: two rows of three are 66%, and only a value every row has shows 100%.
  EXPECT_EQ(FieldCoverageText(coverage),
            "Заполнено: Ссылка 100%, Имя рубрики 100%, Организация 100%, Адрес 0%, Город 0%, "
            "Телефон 66%, WhatsApp 0%, Telegram 0%, Max 0%, Сайт 0%, VK 0%, TG 0%");
}

TEST_F(FieldCoverageTest, AFileWithOnlyItsHeaderHasNoRows) {
  const FieldCoverage coverage = MeasureFieldCoverage(WriteResults({}));
  EXPECT_EQ(coverage.Rows, 0);
  EXPECT_EQ(FieldCoverageText(coverage), "Заполнено: строк нет");
  EXPECT_THROW(MeasureFieldCoverage(Path("missing.tab")), std::runtime_error);
}

TEST_F(FieldCoverageTest, WarnsOfEveryValueWhoseShareFellByMoreThanThirtyPoints) {
  StoredCoverage previous{"data7.tab", {}};
  previous.Coverage.Rows = 100;
  previous.Coverage.Filled.fill(100);
  previous.Coverage.Filled[analysis::kPhoneColumn] = 90;
  previous.Coverage.Filled[analysis::kCityColumn] = 80;

  FieldCoverage now;
  now.Rows = 10;
  now.Filled.fill(10);
  now.Filled[analysis::kPhoneColumn] = 0;    // 90% to 0%
  now.Filled[analysis::kCityColumn] = 5;     // 80% to 50%: exactly 30 points, no warning
  now.Filled[analysis::kVkGroupColumn] = 6;  // 100% to 60%

  EXPECT_THAT(CoverageDropWarnings(previous, now),
              ElementsAre("Внимание: значение «Телефон» найдено в 0% строк, а в прошлой "
                          "завершенной работе (data7.tab) в 90%. Возможно, сайт изменил страницы.",
                          "Внимание: значение «VK» найдено в 60% строк, а в прошлой завершенной "
                          "работе (data7.tab) в 100%. Возможно, сайт изменил страницы."));
  EXPECT_THAT(CoverageDropWarnings(previous, FieldCoverage{}), IsEmpty());
  EXPECT_THAT(CoverageDropWarnings(StoredCoverage{}, now), IsEmpty());
}

}  // namespace
}  // namespace mirava::output
