#pragma once
// Turns the closed results file into an .xlsx workbook that shows every value as the file holds
// it: a sheet of every row, and on request a second one, "Новые", of the rows of organizations
// new to the run. Each has filter buttons on A1:L1, the first row frozen, every value text.
#include <string>
#include <string_view>
#include <unordered_set>

namespace mirava::output {

inline constexpr std::string_view kNewSheetName = "Новые";

struct WorkbookSummary {
  long long UsedRows = 0;        // the header row included
  long long TruncatedCells = 0;  // values cut to the sheet's limit of 32,767 characters a cell
};

// Reads `results_path` (never changing it) and saves the workbook at `workbook_path`, replacing
// an existing file only once the new one is complete. Throws std::runtime_error with a Russian
// message naming the file and the reason when the results file cannot be read, holds more rows
// than a sheet can, or the workbook cannot be saved. The summary counts the first sheet.
WorkbookSummary ExportResultsWorkbook(const std::string& results_path,
                                      const std::string& workbook_path);
// The same with the "Новые" sheet after the first: the header row, then in file order the rows
// whose link, letter case folded (analysis::FoldCaseUtf8), is one of `new_identities`.
WorkbookSummary ExportResultsWorkbook(const std::string& results_path,
                                      const std::string& workbook_path,
                                      const std::unordered_set<std::string>& new_identities);

// Returns the number of used rows, the header row included. Throws std::runtime_error with a
// message naming what failed (reading the results file, writing the workbook).
long long ConvertResultsToWorkbook(const std::string& results_path,
                                   const std::string& workbook_path);
long long ConvertResultsToWorkbook(const std::string& results_path,
                                   const std::string& workbook_path,
                                   const std::unordered_set<std::string>& new_identities);

}  // namespace mirava::output
