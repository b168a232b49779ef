#pragma once
// What makes two rows the same organization.
#include <string>
#include <string_view>

namespace mirava::base {

// The page address with letter case folded: addresses that differ only in case are one
// organization, as they are one page to the visited list of a run.
std::string OrganizationIdentity(std::string_view url);

}  // namespace mirava::base
