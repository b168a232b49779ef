#include "output/workbook_export.h"

#include <xlsxwriter.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "analysis/organization_row.h"
#include "analysis/text_encoding.h"
#include "output/tab_import.h"
#include "platform/failure_texts.h"
#include "platform/file_access.h"

namespace mirava::output {

namespace {

constexpr std::size_t kMaxCellUnits = 32767;  // the sheet's limit, in UTF-16 units
constexpr std::size_t kMaxRows = LXW_ROW_MAX;
constexpr std::size_t kMaxColumns = LXW_COL_MAX;
constexpr lxw_col_t kFilterLastColumn = analysis::kColumnCount - 1;  // over a results row
constexpr std::size_t kMinColumnWidth = 8;
constexpr std::size_t kMaxColumnWidth = 60;
constexpr std::size_t kFilterButtonWidth = 3;  // room for the header's drop-down arrow

std::string SystemMessage(int error) {
  return platform::SystemErrorText(error);
}

std::runtime_error ReadError(const std::string& path, const std::string& reason) {
  return std::runtime_error("Не удалось прочитать файл результатов " + path + ": " + reason);
}

std::runtime_error SaveError(const std::string& path, const std::string& reason) {
  return std::runtime_error("Не удалось сохранить книгу " + path + ": " + reason);
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

// A field made fit for a cell: well-formed UTF-8 without the characters an .xlsx cannot hold,
// literal "_xHHHH_" protected from being read as an escape, and no longer than a cell allows.
struct TCellText {
  std::string Text;
  bool Truncated = false;
};

bool IsHexDigit(char c) {
  return analysis::HexDigitValue(static_cast<unsigned char>(c)) >= 0;
}

// A control character is written as "_xHHHH_", whose "_" would close an escape lookalike in
// front of it: "_x0041" and U+0001 would read back as "A", "x0001_".
bool ClosesEscape(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return c == '_' || (byte >= 0x01 && byte <= 0x1F);
}

bool StartsEscapeLookalike(std::string_view text, std::size_t at) {
  if (text.size() - at < 7 || text[at] != '_' || text[at + 1] != 'x' ||
      !ClosesEscape(text[at + 6])) {
    return false;
  }
  return std::all_of(text.begin() + at + 2, text.begin() + at + 6, IsHexDigit);
}

bool IsPlainAscii(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte != 0 && byte < 0x80 && c != '_';
}

TCellText MakeCellText(std::string_view field) {
  static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
  static constexpr std::string_view kUnderscoreEscape = "_x005F";

  TCellText cell;
  cell.Text.reserve(field.size());
  std::size_t units = 0;  // UTF-16 units written so far
  std::size_t at = 0;
  while (at < field.size()) {
    if (IsPlainAscii(field[at])) {
      std::size_t end = at + 1;
      while (end < field.size() && IsPlainAscii(field[end])) {
        ++end;
      }
      const std::size_t take = std::min(end - at, kMaxCellUnits - units);
      cell.Text.append(field.substr(at, take));
      units += take;
      if (take < end - at) {
        cell.Truncated = true;
        break;
      }
      at = end;
      continue;
    }
    std::string_view piece;
    std::string_view prefix;
    std::size_t consumed = 1;
    if (field[at] == '\0') {
      piece = kReplacement;  // NUL cannot be stored at all
    } else if (field[at] == '_') {
      piece = "_";
      if (StartsEscapeLookalike(field, at)) {
        prefix = kUnderscoreEscape;  // "_x005F_" stands for the underscore itself
      }
    } else {
      const analysis::Utf8Sequence sequence = analysis::MeasureUtf8Sequence(field, at);
      consumed = sequence.Length;
      piece = sequence.WellFormed ? field.substr(at, sequence.Length) : kReplacement;
      if (piece == "\xEF\xBF\xBE" || piece == "\xEF\xBF\xBF") {
        piece = kReplacement;  // U+FFFE and U+FFFF are not allowed in the workbook's XML
      }
    }
    const std::size_t piece_units = prefix.size() + (piece.size() == 4 ? 2 : 1);
    if (units + piece_units > kMaxCellUnits) {
      cell.Truncated = true;
      break;
    }
    units += piece_units;
    cell.Text.append(prefix);
    cell.Text.append(piece);
    at += consumed;
  }
  return cell;
}

// The longest line of a field in characters, counted up to `enough`.
std::size_t LongestLine(std::string_view field, std::size_t enough) {
  std::size_t longest = 0;
  std::size_t line = 0;
  for (const char c : field) {
    if (c == '\n') {
      line = 0;
    } else if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) {  // not a continuation byte
      longest = std::max(longest, ++line);
      if (longest >= enough) {
        break;
      }
    }
  }
  return longest;
}

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

struct TSheetPlan {
  std::size_t UsedRows = 0;
  std::vector<std::size_t> Widths;  // longest value per column, in characters
};

// The first pass: column widths have to be set before the first row in constant-memory mode,
// and a file the sheet cannot hold is refused before anything is written.
TSheetPlan PlanSheet(const std::string& results_path) {
  TSheetPlan plan;
  ForEachRecord(results_path, [&](std::size_t row, const TabRecord& fields) {
    if (IsEmptyRecord(fields)) {
      return;
    }
    if (row >= kMaxRows) {
      throw std::runtime_error("Файл результатов " + results_path + " содержит больше " +
                               std::to_string(kMaxRows) +
                               " строк, столько не помещается на лист книги");
    }
    plan.UsedRows = row + 1;
    if (plan.Widths.size() < fields.size()) {
      plan.Widths.resize(fields.size(), 0);
    }
    for (std::size_t column = 0; column < fields.size(); ++column) {
      std::size_t width = LongestLine(fields[column], kMaxColumnWidth);
      if (row == 0) {
        width += kFilterButtonWidth;
      }
      plan.Widths[column] = std::max(plan.Widths[column], width);
    }
  });
  return plan;
}

// A new file beside the workbook; removed again unless the finished workbook is moved over it.
class TPartFile {
 public:
  explicit TPartFile(const std::string& workbook_path) {
    try {
      for (int attempt = 0; attempt < 100; ++attempt) {
        path_ = workbook_path + "." + std::to_string(platform::CurrentProcessNumber()) + "-" +
                std::to_string(attempt) + ".part";
        if (platform::CreateNewFile(path_)) {
          return;
        }
      }
    } catch (const platform::FileError& error) {
      throw SaveError(workbook_path, error.Reason());
    }
    throw SaveError(workbook_path, SystemMessage(EEXIST));
  }
  TPartFile(const TPartFile&) = delete;
  TPartFile& operator=(const TPartFile&) = delete;
  ~TPartFile() {
    if (!moved_) {
      platform::RemoveFileQuietly(path_);
    }
  }

  const std::string& Path() const { return path_; }

  void MoveTo(const std::string& workbook_path) {
    try {
      platform::MoveReplacing(path_, workbook_path);
    } catch (const platform::FileError& error) {
      throw SaveError(workbook_path, error.Reason());
    }
    moved_ = true;
  }

 private:
  std::string path_;
  bool moved_ = false;
};

struct WorkbookDeleter {
  void operator()(lxw_workbook* workbook) const { lxw_workbook_free(workbook); }
};
using WorkbookPtr = std::unique_ptr<lxw_workbook, WorkbookDeleter>;

// Paths are UTF-8 everywhere in the program; std::filesystem reads a plain string in the ANSI
// code page on Windows.
std::u8string AsU8(const std::string& utf8) {
  return std::u8string(utf8.begin(), utf8.end());
}
std::string Utf8PathPart(const std::filesystem::path& part) {
  const std::u8string text = part.u8string();
  return std::string(text.begin(), text.end());
}

void Check(lxw_error error, const std::string& workbook_path) {
  if (error != LXW_NO_ERROR) {
    throw SaveError(workbook_path, lxw_strerror(error));
  }
}

// The sheet is named after the results file, as a text import names it.
lxw_worksheet* AddSheet(lxw_workbook* workbook, const std::string& results_path) {
  std::string name = Utf8PathPart(std::filesystem::path(AsU8(results_path)).stem());
  if (name.size() > 31) {
    name.clear();  // too long for a sheet name: the default name instead
  }
  if (!name.empty() && workbook_validate_sheet_name(workbook, name.c_str()) == LXW_NO_ERROR) {
    return workbook_add_worksheet(workbook, name.c_str());
  }
  return workbook_add_worksheet(workbook, nullptr);
}

}  // namespace

WorkbookSummary ExportResultsWorkbook(const std::string& results_path,
                                      const std::string& workbook_path) {
  const TSheetPlan plan = PlanSheet(results_path);

  TPartFile part(workbook_path);
  // Temporary data goes beside the workbook, not to a /tmp that may live in memory.
  std::string temp_folder = Utf8PathPart(std::filesystem::path(AsU8(part.Path())).parent_path());
  if (temp_folder.empty()) {
    temp_folder = ".";
  }
  lxw_workbook_options options{};
  options.constant_memory = LXW_TRUE;
  options.tmpdir = temp_folder.data();
  WorkbookPtr workbook(workbook_new_opt(part.Path().c_str(), &options));
  if (!workbook) {
    throw SaveError(workbook_path, lxw_strerror(LXW_ERROR_MEMORY_MALLOC_FAILED));
  }
  lxw_worksheet* sheet = AddSheet(workbook.get(), results_path);
  lxw_format* header_format = workbook_add_format(workbook.get());
  if (sheet == nullptr || header_format == nullptr) {
    throw SaveError(workbook_path, lxw_strerror(LXW_ERROR_MEMORY_MALLOC_FAILED));
  }
  format_set_bold(header_format);

  for (std::size_t column = 0; column < plan.Widths.size(); ++column) {
    const double width =
        static_cast<double>(std::clamp(plan.Widths[column] + 1, kMinColumnWidth, kMaxColumnWidth));
    Check(worksheet_set_column(sheet, static_cast<lxw_col_t>(column),
                               static_cast<lxw_col_t>(column), width, nullptr),
          workbook_path);
  }
  Check(worksheet_autofilter(sheet, 0, 0, 0, kFilterLastColumn), workbook_path);
  worksheet_freeze_panes(sheet, 1, 0);

  WorkbookSummary summary;
  ForEachRecord(results_path, [&](std::size_t row, const TabRecord& fields) {
    if (IsEmptyRecord(fields)) {
      return;
    }
    if (row >= kMaxRows) {
      throw ReadError(results_path, "файл изменился во время чтения");
    }
    summary.UsedRows = static_cast<long long>(row) + 1;
    for (std::size_t column = 0; column < fields.size(); ++column) {
      if (fields[column].empty()) {
        continue;
      }
      const TCellText cell = MakeCellText(fields[column]);
      if (cell.Truncated) {
        ++summary.TruncatedCells;
      }
      // Always a string cell: a leading "=", "+" or zero must reach the operator unchanged.
      Check(
          worksheet_write_string(sheet, static_cast<lxw_row_t>(row), static_cast<lxw_col_t>(column),
                                 cell.Text.c_str(), row == 0 ? header_format : nullptr),
          workbook_path);
    }
  });

  // workbook_close frees the workbook whatever it returns.
  Check(workbook_close(workbook.release()), workbook_path);
  part.MoveTo(workbook_path);
  return summary;
}

long long ConvertResultsToWorkbook(const std::string& results_path,
                                   const std::string& workbook_path) {
  return ExportResultsWorkbook(results_path, workbook_path).UsedRows;
}

}  // namespace mirava::output
