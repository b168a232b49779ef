#pragma once
// Turns the closed results file into an .xlsx workbook that shows every value as the file holds
// it: one sheet, filter buttons on A1:L1, the first row frozen, every value text.
#include <string>

namespace mirava::output {

struct WorkbookSummary {
  long long UsedRows = 0;        // the header row included
  long long TruncatedCells = 0;  // values cut to the sheet's limit of 32,767 characters a cell
};

// Reads `results_path` (never changing it) and saves the workbook at `workbook_path`, replacing
// an existing file only once the new one is complete. Throws std::runtime_error with a Russian
// message naming the file and the reason when the results file cannot be read, holds more rows
// than a sheet can, or the workbook cannot be saved.
WorkbookSummary ExportResultsWorkbook(const std::string& results_path,
                                      const std::string& workbook_path);

// Returns the number of used rows, the header row included. Throws std::runtime_error with a
// message naming what failed (reading the results file, writing the workbook).
long long ConvertResultsToWorkbook(const std::string& results_path,
                                   const std::string& workbook_path);

}  // namespace mirava::output
