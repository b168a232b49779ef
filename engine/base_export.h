#pragma once
// The folder's organization base as a workbook, for both front ends.
#include <optional>
#include <string>

#include "base/organization_base.h"

namespace mirava::engine {

// Writes every organization of `folder`'s base (with its trailing "/"), or those first seen at
// or after `since`, into `workbook_path`: the twelve values, then the local dates it was first
// and last seen. Returns how many were written. Throws std::runtime_error with the Russian
// reason: no base in the folder, the base refused, the workbook not written.
long long ExportOrganizationBase(const std::string& folder, const std::string& workbook_path,
                                 std::optional<base::EpochSeconds> since);

}  // namespace mirava::engine
