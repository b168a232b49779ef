#include "output/organizations_workbook.h"

#include <span>

#include "output/workbook_file.h"

namespace mirava::output {

WorkbookSummary WriteOrganizationsWorkbook(
    const std::string& workbook_path, const std::function<void(const EmitOrganization&)>& list) {
  OrganizationsRow titles;
  for (std::size_t column = 0; column < analysis::kColumnCount; ++column) {
    titles[column] = analysis::kColumnTitles[column];
  }
  for (std::size_t i = 0; i < kFoundTitles.size(); ++i) {
    titles[analysis::kColumnCount + i] = kFoundTitles[i];
  }

  WorkbookFile workbook(workbook_path);
  const std::size_t sheet = workbook.AddSheet(std::string(kOrganizationsSheetName));
  workbook.AddHeaderFilter(sheet, kOrganizationsColumnCount);
  ColumnWidths widths;
  widths.Measure(titles, true);
  WorkbookSummary summary;
  summary.TruncatedCells = workbook.WriteRow(sheet, 0, titles, true);
  summary.UsedRows = 1;
  // One pass, however many organizations the caller has: a sheet takes its widths up to its
  // saving, so they are set once every row is measured.
  list([&](const OrganizationsRow& row) {
    if (static_cast<std::size_t>(summary.UsedRows) >= kMaxSheetRows) {
      throw SaveError(workbook_path, "организаций больше " + std::to_string(kMaxSheetRows - 1) +
                                         ", столько не помещается на лист книги");
    }
    widths.Measure(row, false);
    summary.TruncatedCells +=
        workbook.WriteRow(sheet, static_cast<std::size_t>(summary.UsedRows), row, false);
    ++summary.UsedRows;
  });
  workbook.SetWidths(sheet, widths);
  workbook.Save();
  return summary;
}

}  // namespace mirava::output
