#pragma once
// The base's tables and their versions. The version is the file's PRAGMA user_version: 0 is an
// empty file, and each migration step takes it one further.
#include <array>
#include <string_view>

#include "analysis/organization_row.h"
#include "base/sqlite_connection.h"

namespace mirava::base {

// The version this program writes; a base of a higher one is refused.
inline constexpr int kSchemaVersion = 1;

// The organizations table's columns of the twelve values, in the row's column order.
inline constexpr std::array<std::string_view, analysis::kColumnCount> kValueColumns = {
    "link",     "category", "organization", "address",  "city",     "phone",
    "whatsapp", "telegram", "max_profile",  "web_site", "vk_group", "telegram_social"};

// Throws BaseError (TooNew) for a base of a newer version and (Foreign) for a database that
// holds tables but no version; reads only.
void CheckSchemaVersion(Connection& connection);

// Takes the base from `version` to version + 1; runs inside the caller's write transaction.
void MigrationStep(Connection& connection, int version);

// Brings the base to kSchemaVersion in one transaction, with the checks of CheckSchemaVersion.
void Migrate(Connection& connection);

}  // namespace mirava::base
