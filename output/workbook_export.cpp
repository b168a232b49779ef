#include "output/workbook_export.h"

#include <xlsxwriter.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/organization_row.h"
#include "analysis/text_encoding.h"
#include "output/tab_import.h"
#include "output/workbook_file.h"
#include "platform/file_access.h"

namespace mirava::output {

namespace {

constexpr std::size_t kMaxRows = kMaxSheetRows;
constexpr std::size_t kMaxColumns = LXW_COL_MAX;

std::runtime_error ReadError(const std::string& path, const std::string& reason) {
  return std::runtime_error("Не удалось прочитать файл результатов " + path + ": " + reason);
}

// The results file, read in chunks so that its size does not matter.
class TResultsFileSource {
 public:
  explicit TResultsFileSource(const std::string& path) try : path_(path), file_(path) {
  } catch (const platform::FileError& error) {
    throw ReadError(path, error.Reason());
  }

  std::size_t Read(char* buffer, std::size_t size) {
    try {
      return file_.Read(buffer, size);
    } catch (const platform::FileError& error) {
      throw ReadError(path_, error.Reason());
    }
  }

 private:
  std::string path_;
  platform::InputFile file_;
};

bool IsEmptyRecord(const TabRecord& fields) {
  return std::all_of(fields.begin(), fields.end(), [](const std::string& f) { return f.empty(); });
}

// Fields beyond the sheet's last column are kept, joined into that column.
void FoldExtraColumns(TabRecord& fields) {
  if (fields.size() <= kMaxColumns) {
    return;
  }
  std::string& last = fields[kMaxColumns - 1];
  for (std::size_t i = kMaxColumns; i < fields.size(); ++i) {
    last += '\t';
    last += fields[i];
  }
  fields.resize(kMaxColumns);
}

// Calls `on_record(row, fields)` for every record of the results file, row counted from 0.
template <typename OnRecord>
void ForEachRecord(const std::string& results_path, OnRecord on_record) {
  TResultsFileSource file(results_path);
  TTabRecordReader reader(
      [&file](char* buffer, std::size_t size) { return file.Read(buffer, size); });
  TabRecord fields;
  for (std::size_t row = 0; reader.NextRecord(fields); ++row) {
    FoldExtraColumns(fields);
    on_record(row, fields);
  }
}

// The first pass: the widths go to both sheets, and a file the sheet cannot hold is refused
// before anything is written.
ColumnWidths PlanSheet(const std::string& results_path) {
  ColumnWidths widths;
  ForEachRecord(results_path, [&](std::size_t row, const TabRecord& fields) {
    if (IsEmptyRecord(fields)) {
      return;
    }
    if (row >= kMaxRows) {
      throw std::runtime_error("Файл результатов " + results_path + " содержит больше " +
                               std::to_string(kMaxRows) +
                               " строк, столько не помещается на лист книги");
    }
    widths.Measure(fields, row == 0);
  });
  return widths;
}

// The sheet is named after the results file, as a text import names it.
std::string ResultsSheetName(const std::string& results_path) {
  const std::u8string stem =
      std::filesystem::path(std::u8string(results_path.begin(), results_path.end()))
          .stem()
          .u8string();
  return std::string(stem.begin(), stem.end());
}

WorkbookSummary Export(const std::string& results_path, const std::string& workbook_path,
                       const std::unordered_set<std::string>* new_identities) {
  const ColumnWidths widths = PlanSheet(results_path);

  WorkbookFile workbook(workbook_path);
  std::vector<std::size_t> sheets = {workbook.AddSheet(ResultsSheetName(results_path))};
  if (new_identities != nullptr) {
    sheets.push_back(workbook.AddSheet(std::string(kNewSheetName)));
  }
  for (const std::size_t sheet : sheets) {
    workbook.SetWidths(sheet, widths);
    workbook.AddHeaderFilter(sheet, analysis::kColumnCount);
  }

  WorkbookSummary summary;
  std::size_t new_rows = 0;
  ForEachRecord(results_path, [&](std::size_t row, const TabRecord& fields) {
    if (IsEmptyRecord(fields)) {
      return;
    }
    if (row >= kMaxRows) {
      throw ReadError(results_path, "файл изменился во время чтения");
    }
    summary.UsedRows = static_cast<long long>(row) + 1;
    summary.TruncatedCells += workbook.WriteRow(sheets[0], row, fields, row == 0);
    if (new_identities == nullptr) {
      return;
    }
    // The header row goes to both sheets; the new sheet's rows follow each other.
    if (row == 0) {
      workbook.WriteRow(sheets[1], 0, fields, true);
    } else if (new_identities->contains(analysis::FoldCaseUtf8(fields.front()))) {
      workbook.WriteRow(sheets[1], ++new_rows, fields, false);
    }
  });

  workbook.Save();
  return summary;
}

}  // namespace

WorkbookSummary ExportResultsWorkbook(const std::string& results_path,
                                      const std::string& workbook_path) {
  return Export(results_path, workbook_path, nullptr);
}

WorkbookSummary ExportResultsWorkbook(const std::string& results_path,
                                      const std::string& workbook_path,
                                      const std::unordered_set<std::string>& new_identities) {
  return Export(results_path, workbook_path, &new_identities);
}

long long ConvertResultsToWorkbook(const std::string& results_path,
                                   const std::string& workbook_path) {
  return ExportResultsWorkbook(results_path, workbook_path).UsedRows;
}

long long ConvertResultsToWorkbook(const std::string& results_path,
                                   const std::string& workbook_path,
                                   const std::unordered_set<std::string>& new_identities) {
  return ExportResultsWorkbook(results_path, workbook_path, new_identities).UsedRows;
}

}  // namespace mirava::output
