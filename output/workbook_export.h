#pragma once
// Turns the closed results file into an .xlsx workbook, as a spreadsheet's UTF-8 text import
// would read it: one sheet, filter buttons on A1:L1, the first row frozen, every value text.
#include <string>

namespace mirava::output {

// Returns the number of used rows, the header row included. Throws std::runtime_error with a
// message naming what failed (reading the results file, writing the workbook).
long long ConvertResultsToWorkbook(const std::string& results_path,
                                   const std::string& workbook_path);

// Asks the desktop to open `path` (xdg-open, detached); the outcome is not examined.
void OpenWithDesktop(const std::string& path);

}  // namespace mirava::output
