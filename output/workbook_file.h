#pragma once
// What the program's workbooks share: a workbook written beside its target in constant-memory
// mode and moved over it once complete, and sheets of text cells with a bold first row, filter
// buttons on it, the first row frozen and columns as wide as their values. For output/ only.
#include <cstddef>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace mirava::output {

inline constexpr std::size_t kMaxSheetRows = 1048576;

std::runtime_error SaveError(const std::string& workbook_path, const std::string& reason);

// The longest line of each column's values, in characters, counted as far as a column is ever
// made wide.
class ColumnWidths {
 public:
  // The header's values leave room for the filter button.
  void Measure(std::span<const std::string> values, bool header);
  std::size_t Count() const { return widths_.size(); }
  std::size_t operator[](std::size_t column) const { return widths_[column]; }

 private:
  std::vector<std::size_t> widths_;
};

class WorkbookFile {
 public:
  // Creates the new file beside `workbook_path`; the target is not touched before Save.
  explicit WorkbookFile(const std::string& workbook_path);
  ~WorkbookFile();  // without Save: the new file is removed, the target left as it was
  WorkbookFile(const WorkbookFile&) = delete;
  WorkbookFile& operator=(const WorkbookFile&) = delete;

  // Returns the sheet's number. A name a sheet cannot have (too long, a character the format
  // refuses, another sheet's in any letter case) gives the default name.
  std::size_t AddSheet(const std::string& name);
  // Set before or after the rows: a sheet's columns are written out when the workbook is saved,
  // only its rows as they come.
  void SetWidths(std::size_t sheet, const ColumnWidths& widths);
  // Filter buttons on the first `columns` cells of the first row, and that row frozen.
  void AddHeaderFilter(std::size_t sheet, std::size_t columns);
  // Writes the non-empty values as text cells, bold in a header; rows of a sheet in ascending
  // order. Returns the number of values cut to a cell's limit.
  long long WriteRow(std::size_t sheet, std::size_t row, std::span<const std::string> values,
                     bool header);
  // Completes the workbook and moves it over the target.
  void Save();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace mirava::output
