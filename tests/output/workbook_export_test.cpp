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
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/temp_folder.h"

#include "analysis/organization_row.h"

namespace mirava::output {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

using Values = std::vector<std::string>;

const Values kHeader = {"Ссылка",   "Имя рубрики", "Организация", "Адрес", "Город", "Телефон",
                        "WhatsApp", "Telegram",    "Max",         "Сайт",  "VK",    "TG"};

// Quoted values, TAB between, CR LF after, whatever the values hold: a file edited by hand.
std::string RawLine(const Values& values) {
  std::string line;
  for (std::size_t i = 0; i < values.size(); ++i) {
    line += (i == 0 ? "\"" : "\t\"") + values[i] + "\"";
  }
  return line + "\r\n";
}

// A row as the results writer lays it out.
std::string Line(const Values& values) {
  if (values.size() != analysis::OrganizationRow().size()) {
    return RawLine(values);
  }
  analysis::OrganizationRow row;
  std::copy(values.begin(), values.end(), row.begin());
  return analysis::FormatRow(row) + "\r\n";
}

std::string ResultsFile(const std::vector<Values>& rows) {
  std::string bytes = "\xEF\xBB\xBF" + Line(kHeader);
  for (const Values& row : rows) {
    bytes += Line(row);
  }
  return bytes;
}

using testing::ReadFile;
using testing::WriteFile;

// Its own folder for every test.
class TempFolder : public testing::TempFolder {
 public:
  TempFolder() : testing::TempFolder("mirava-workbook") {}
};

std::string JsonString(const std::string& text) {
  std::string json = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      json += '\\';
      json += c;
    } else if (byte < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      json += escaped;
    } else {
      json += c;
    }
  }
  return json + "\"";
}

struct Expectations {
  std::vector<Values> rows;  // the header included; "" is an empty cell
  long long used_rows = 0;
  std::vector<std::pair<std::string, std::array<double, 2>>> width_ranges;
};

std::string ToJson(const Expectations& e) {
  std::string json = "{\"autofilter\": \"A1:L1\", \"freeze\": \"A2\", \"used_rows\": " +
                     std::to_string(e.used_rows) + ", \"rows\": [";
  for (std::size_t r = 0; r < e.rows.size(); ++r) {
    json += r == 0 ? "[" : ", [";
    for (std::size_t c = 0; c < e.rows[r].size(); ++c) {
      json += (c == 0 ? "" : ", ") + JsonString(e.rows[r][c]);
    }
    json += "]";
  }
  json += "], \"width_ranges\": {";
  for (std::size_t i = 0; i < e.width_ranges.size(); ++i) {
    const auto& [letter, range] = e.width_ranges[i];
    json += (i == 0 ? "\"" : ", \"") + letter + "\": [" + std::to_string(range[0]) + ", " +
            std::to_string(range[1]) + "]";
  }
  return json + "}}";
}

constexpr const char* kPython = "/usr/bin/python3";

bool ReaderAvailable() {
  static const bool available =
      std::system((std::string(kPython) + " -c 'import openpyxl' >/dev/null 2>&1").c_str()) == 0;
  return available;
}

// Runs the reader-side checker; returns its report, empty when the workbook is as expected.
std::string CheckWorkbook(const TempFolder& folder, const std::string& workbook,
                          const Expectations& expected) {
  const std::string expectations = folder / "expected.json";
  WriteFile(expectations, ToJson(expected));
  const std::string command = std::string(kPython) + " '" + MIRAVA_TEST_SOURCE_DIR +
                              "/output/check_workbook.py' '" + workbook + "' '" + expectations +
                              "' 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) {
    return "could not start the checker";
  }
  std::string report;
  std::array<char, 4096> chunk;
  std::size_t got;
  while ((got = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0) {
    report.append(chunk.data(), got);
  }
  const int status = ::pclose(pipe);
  if (status != 0 && report.empty()) {
    report = "checker failed with status " + std::to_string(status);
  }
  return report;
}

#define SKIP_WITHOUT_READER()                                                \
  if (!ReaderAvailable()) {                                                  \
    GTEST_SKIP() << kPython << " cannot import openpyxl (python3-openpyxl)"; \
  }

std::vector<std::string> FolderEntries(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

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
  const Values row = {"u",
                      "\xFF\xFE битые байты",
                      with_nul,
                      "_x0041_ как есть",
                      "\x01\x1F",
                      "\xEF\xBF\xBF",
                      "\xED\xA0\x80",
                      "😀",
                      // The control character is stored as an escape whose "_" must not close
                      // the text in front of it into another escape.
                      "_x0041\x01",
                      "",
                      "",
                      ""};
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

}  // namespace
}  // namespace mirava::output
