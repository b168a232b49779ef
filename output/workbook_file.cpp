#include "output/workbook_file.h"

#include <xlsxwriter.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <mutex>
#include <string_view>

#include "analysis/text_encoding.h"
#include "platform/failure_texts.h"
#include "platform/file_access.h"

namespace mirava::output {

namespace {

static_assert(kMaxSheetRows == LXW_ROW_MAX);
constexpr std::size_t kMaxCellUnits = 32767;  // the sheet's limit, in UTF-16 units
constexpr std::size_t kMinColumnWidth = 8;
constexpr std::size_t kMaxColumnWidth = 60;
constexpr std::size_t kFilterButtonWidth = 3;  // room for the header's drop-down arrow

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
    throw SaveError(workbook_path, platform::SystemErrorText(EEXIST));
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
std::string TempFolderBeside(const std::string& utf8_path) {
  const std::u8string folder =
      std::filesystem::path(std::u8string(utf8_path.begin(), utf8_path.end()))
          .parent_path()
          .u8string();
  return folder.empty() ? std::string(".") : std::string(folder.begin(), folder.end());
}

}  // namespace

std::runtime_error SaveError(const std::string& workbook_path, const std::string& reason) {
  return std::runtime_error("Не удалось сохранить книгу " + workbook_path + ": " + reason);
}

void ColumnWidths::Measure(std::span<const std::string> values, bool header) {
  if (widths_.size() < values.size()) {
    widths_.resize(values.size(), 0);
  }
  for (std::size_t column = 0; column < values.size(); ++column) {
    std::size_t width = LongestLine(values[column], kMaxColumnWidth);
    if (header) {
      width += kFilterButtonWidth;
    }
    widths_[column] = std::max(widths_[column], width);
  }
}

struct WorkbookFile::State {
  explicit State(const std::string& path) : workbook_path(path), part(path) {}

  void Check(lxw_error error) const {
    if (error != LXW_NO_ERROR) {
      throw SaveError(workbook_path, lxw_strerror(error));
    }
  }

  std::string workbook_path;
  TPartFile part;  // declared before the workbook, so removed only after the workbook is freed
  // Temporary data goes beside the workbook, not to a /tmp that may live in memory.
  std::string temp_folder = TempFolderBeside(part.Path());
  WorkbookPtr workbook;
  lxw_format* header_format = nullptr;
  std::vector<lxw_worksheet*> sheets;
  std::vector<std::string> folded_names;  // sheet names are unique in any letter case
};

WorkbookFile::WorkbookFile(const std::string& workbook_path)
    : state_(std::make_unique<State>(workbook_path)) {
  lxw_workbook_options options{};
  options.constant_memory = LXW_TRUE;
  options.tmpdir = state_->temp_folder.data();
  state_->workbook.reset(workbook_new_opt(state_->part.Path().c_str(), &options));
  if (!state_->workbook) {
    throw SaveError(workbook_path, lxw_strerror(LXW_ERROR_MEMORY_MALLOC_FAILED));
  }
}

WorkbookFile::~WorkbookFile() = default;

std::size_t WorkbookFile::AddSheet(const std::string& name) {
  lxw_workbook* workbook = state_->workbook.get();
  const auto& taken = state_->folded_names;
  const bool usable =
      !name.empty() && name.size() <= 31 &&
      std::find(taken.begin(), taken.end(), analysis::FoldCaseUtf8(name)) == taken.end() &&
      workbook_validate_sheet_name(workbook, name.c_str()) == LXW_NO_ERROR;
  lxw_worksheet* sheet = workbook_add_worksheet(workbook, usable ? name.c_str() : nullptr);
  if (state_->header_format == nullptr) {
    state_->header_format = workbook_add_format(workbook);
    if (state_->header_format != nullptr) {
      format_set_bold(state_->header_format);
    }
  }
  if (sheet == nullptr || state_->header_format == nullptr) {
    throw SaveError(state_->workbook_path, lxw_strerror(LXW_ERROR_MEMORY_MALLOC_FAILED));
  }
  state_->sheets.push_back(sheet);
  state_->folded_names.push_back(analysis::FoldCaseUtf8(sheet->name));
  return state_->sheets.size() - 1;
}

void WorkbookFile::SetWidths(std::size_t sheet, const ColumnWidths& widths) {
  for (std::size_t column = 0; column < widths.Count(); ++column) {
    const double width =
        static_cast<double>(std::clamp(widths[column] + 1, kMinColumnWidth, kMaxColumnWidth));
    state_->Check(worksheet_set_column(state_->sheets[sheet], static_cast<lxw_col_t>(column),
                                       static_cast<lxw_col_t>(column), width, nullptr));
  }
}

void WorkbookFile::AddHeaderFilter(std::size_t sheet, std::size_t columns) {
  lxw_worksheet* worksheet = state_->sheets[sheet];
  state_->Check(worksheet_autofilter(worksheet, 0, 0, 0, static_cast<lxw_col_t>(columns - 1)));
  worksheet_freeze_panes(worksheet, 1, 0);
}

long long WorkbookFile::WriteRow(std::size_t sheet, std::size_t row,
                                 std::span<const std::string> values, bool header) {
  long long truncated = 0;
  for (std::size_t column = 0; column < values.size(); ++column) {
    if (values[column].empty()) {
      continue;
    }
    const TCellText cell = MakeCellText(values[column]);
    if (cell.Truncated) {
      ++truncated;
    }
    // Always a string cell: a leading "=", "+" or zero must reach the operator unchanged.
    state_->Check(worksheet_write_string(state_->sheets[sheet], static_cast<lxw_row_t>(row),
                                         static_cast<lxw_col_t>(column), cell.Text.c_str(),
                                         header ? state_->header_format : nullptr));
  }
  return truncated;
}

void WorkbookFile::Save() {
  // The library writes the file's creation time through gmtime, whose buffer the whole process
  // shares: two workbooks saved at once (a run's and the base's export) are saved one at a time.
  static std::mutex closing;
  const std::lock_guard<std::mutex> guard(closing);
  // workbook_close frees the workbook whatever it returns.
  state_->Check(workbook_close(state_->workbook.release()));
  state_->part.MoveTo(state_->workbook_path);
}

}  // namespace mirava::output
