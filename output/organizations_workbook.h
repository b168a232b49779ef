#pragma once
// A workbook of organizations the caller lists (those of the organization base, say): the twelve
// values of a results row and when each organization was first and last found, with the results
// workbook's look.
#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "analysis/organization_row.h"
#include "output/workbook_export.h"

namespace mirava::output {

inline constexpr std::size_t kOrganizationsColumnCount = analysis::kColumnCount + 2;
inline constexpr std::string_view kOrganizationsSheetName = "Организации";
inline constexpr std::array<std::string_view, 2> kFoundTitles = {"Впервые найдена",
                                                                 "Последний раз найдена"};

// The twelve values in the row's column order, then the dates the organization was first and
// last found, as the caller writes them ("ДД.ММ.ГГГГ" in local time).
using OrganizationsRow = std::array<std::string, kOrganizationsColumnCount>;
using EmitOrganization = std::function<void(const OrganizationsRow&)>;

// Saves the workbook at `workbook_path`, replacing an existing file only once the new one is
// complete: one sheet, the column titles in its first row, then a row for every organization
// `list` passes to `emit`, in that order; filter buttons on the titles, the first row frozen,
// every value text. `list` is called once. Throws std::runtime_error with a Russian message
// naming the workbook and the reason when it cannot be saved or the organizations do not fit on
// a sheet; what `list` throws passes through. Either way the target is left as it was.
WorkbookSummary WriteOrganizationsWorkbook(
    const std::string& workbook_path, const std::function<void(const EmitOrganization&)>& list);

}  // namespace mirava::output
