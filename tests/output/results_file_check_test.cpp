// Reading back a results file before a run goes on with it: the torn last line is cut, a file
// cut inside its header is begun again, and any other damage is refused.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "analysis/organization_row.h"
#include "output/results_file_check.h"

namespace mirava::output {
namespace {

std::string Row(const std::string& url) {
  analysis::OrganizationRow row;
  row[0] = url;
  row[2] = "ООО \"Ромашка\"";
  return analysis::FormatRow(row);
}

const std::string kHead = "\xEF\xBB\xBF" + analysis::HeaderLine() + "\r\n";

TEST(ResultsFileCheckTest, CutsOnlyTheTornLastLine) {
  const std::string whole = kHead + Row("http://a/1") + "\r\n" + Row("http://a/2") + "\r\n";
  const std::string next = Row("http://a/3") + "\r\n";
  // Every place a crash can cut the next line, its line break included.
  for (std::size_t cut = 0; cut < next.size(); ++cut) {
    const auto read = InspectResultsFile(whole + next.substr(0, cut));
    ASSERT_TRUE(std::holds_alternative<ResultsFileContents>(read)) << cut;
    const ResultsFileContents& contents = std::get<ResultsFileContents>(read);
    EXPECT_EQ(contents.WholeSize, whole.size());
    EXPECT_EQ(contents.Rows, 2);
    EXPECT_FALSE(contents.NeedsHeader);
    EXPECT_TRUE(contents.RowKeys.contains("\"http://a/2\""));
  }
}

TEST(ResultsFileCheckTest, AFileCutInsideItsHeaderIsBegunAgain) {
  for (const std::size_t cut : {std::size_t{0}, std::size_t{2}, kHead.size() - 1}) {
    const auto read = InspectResultsFile(kHead.substr(0, cut));
    ASSERT_TRUE(std::holds_alternative<ResultsFileContents>(read)) << cut;
    EXPECT_TRUE(std::get<ResultsFileContents>(read).NeedsHeader);
  }
}

TEST(ResultsFileCheckTest, RefusesDamage) {
  const std::string row = Row("http://a/1") + "\r\n";
  const std::vector<std::string> damaged = {
      "not a results file\r\n" + row,
      kHead + "\"short\"\t\"row\"\r\n" + row,
      kHead + std::string(row.size() - 2, '\0') + "\r\n" + row,
      kHead.substr(3) + row,
  };
  for (const std::string& bytes : damaged) {
    EXPECT_TRUE(std::holds_alternative<ResultsFileDamage>(InspectResultsFile(bytes)));
  }
}

}  // namespace
}  // namespace mirava::output
