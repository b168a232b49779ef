#pragma once
// Results files made by hand and workbooks read back: check_workbook.py opens a workbook with
// openpyxl, as a spreadsheet program would, and compares one sheet with the expectations.
#include <gtest/gtest.h>
#include <stdio.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "analysis/organization_row.h"
#include "tests/support/temp_folder.h"

namespace mirava::output {

using Values = std::vector<std::string>;

inline const Values kHeader = {"Ссылка", "Имя рубрики", "Организация", "Адрес",
                               "Город",  "Телефон",     "WhatsApp",    "Telegram",
                               "Max",    "Сайт",        "VK",          "TG"};

// Quoted values, TAB between, CR LF after, whatever the values hold: a file edited by hand.
inline std::string RawLine(const Values& values) {
  std::string line;
  for (std::size_t i = 0; i < values.size(); ++i) {
    line += (i == 0 ? "\"" : "\t\"") + values[i] + "\"";
  }
  return line + "\r\n";
}

// A row as the results writer lays it out.
inline std::string Line(const Values& values) {
  if (values.size() != analysis::OrganizationRow().size()) {
    return RawLine(values);
  }
  analysis::OrganizationRow row;
  std::copy(values.begin(), values.end(), row.begin());
  return analysis::FormatRow(row) + "\r\n";
}

inline std::string ResultsFile(const std::vector<Values>& rows) {
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

inline std::string JsonString(const std::string& text) {
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
  std::string autofilter = "A1:L1";
  // The workbook's sheets by name, when it is to have more than one, and the one checked.
  std::vector<std::string> sheet_names;
  int sheet = 0;
  std::optional<int> widths_as_sheet;  // every column exactly as wide as on that sheet
};

inline std::string ToJson(const Expectations& e) {
  std::string json = "{\"autofilter\": " + JsonString(e.autofilter) +
                     ", \"freeze\": \"A2\", \"used_rows\": " + std::to_string(e.used_rows) +
                     ", \"sheet\": " + std::to_string(e.sheet);
  if (!e.sheet_names.empty()) {
    json += ", \"sheet_names\": [";
    for (std::size_t i = 0; i < e.sheet_names.size(); ++i) {
      json += (i == 0 ? "" : ", ") + JsonString(e.sheet_names[i]);
    }
    json += "]";
  }
  if (e.widths_as_sheet) {
    json += ", \"widths_as_sheet\": " + std::to_string(*e.widths_as_sheet);
  }
  json += ", \"rows\": [";
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

inline constexpr const char* kPython = "/usr/bin/python3";

inline bool ReaderAvailable() {
  static const bool available =
      std::system((std::string(kPython) + " -c 'import openpyxl' >/dev/null 2>&1").c_str()) == 0;
  return available;
}

// What `command` prints; a failure with nothing printed says so.
inline std::string Output(const std::string& command) {
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) {
    return "could not start " + command;
  }
  std::string output;
  std::array<char, 4096> chunk;
  std::size_t got;
  while ((got = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0) {
    output.append(chunk.data(), got);
  }
  const int status = ::pclose(pipe);
  if (status != 0 && output.empty()) {
    output = "failed with status " + std::to_string(status) + ": " + command;
  }
  return output;
}

// Runs the reader-side checker; returns its report, empty when the workbook is as expected.
inline std::string CheckWorkbook(const TempFolder& folder, const std::string& workbook,
                                 const Expectations& expected) {
  const std::string expectations = folder / "expected.json";
  WriteFile(expectations, ToJson(expected));
  return Output(std::string(kPython) + " '" + MIRAVA_TEST_SOURCE_DIR +
                "/output/check_workbook.py' '" + workbook + "' '" + expectations + "' 2>&1");
}

// The bytes of one part of the workbook's package ("xl/worksheets/sheet1.xml").
inline std::string WorkbookPart(const std::string& workbook, const std::string& part) {
  return Output(std::string(kPython) +
                " -c 'import sys, zipfile; "
                "sys.stdout.buffer.write(zipfile.ZipFile(sys.argv[1]).read(sys.argv[2]))' '" +
                workbook + "' '" + part + "' 2>&1");
}

#define SKIP_WITHOUT_READER()                                                \
  if (!ReaderAvailable()) {                                                  \
    GTEST_SKIP() << kPython << " cannot import openpyxl (python3-openpyxl)"; \
  }

inline std::vector<std::string> FolderEntries(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace mirava::output
