#include "engine/base_export.h"

#include <stdexcept>

#include "output/organizations_workbook.h"
#include "platform/file_access.h"
#include "platform/local_time.h"

namespace mirava::engine {

long long ExportOrganizationBase(const std::string& folder, const std::string& workbook_path,
                                 std::optional<base::EpochSeconds> since) {
  const std::string base_path = folder + std::string(base::kBaseFileName);
  // Opening a missing base would create an empty one: an export never leaves a file behind.
  if (!platform::NameTaken(base_path)) {
    throw std::runtime_error("В папке " + folder +
                             " нет базы организаций: она появляется после первой работы");
  }
  base::OrganizationBase organizations(base_path);
  long long count = 0;
  output::WriteOrganizationsWorkbook(workbook_path, [&](const output::EmitOrganization& emit) {
    organizations.ListOrganizations(since, [&](const base::StoredOrganization& organization) {
      output::OrganizationsRow row;
      for (std::size_t i = 0; i < organization.Row.size(); ++i) {
        row[i] = organization.Row[i];
      }
      row[analysis::kColumnCount] =
          platform::FormatLocalDate(static_cast<std::time_t>(organization.FirstSeen));
      row[analysis::kColumnCount + 1] =
          platform::FormatLocalDate(static_cast<std::time_t>(organization.LastSeen));
      emit(row);
      ++count;
    });
  });
  return count;
}

}  // namespace mirava::engine
