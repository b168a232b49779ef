#include "base/schema.h"

#include <cstdint>
#include <string>

#include "base/base_error.h"
#include "base/sqlite_statement.h"
#include "base/write_transaction.h"

namespace mirava::base {

namespace {

// Step i takes version i to i + 1. A step, once released, never changes: a base written by an
// older program must end up as one created anew. A new value (the e-mail address, say) is a new
// step: ALTER TABLE organizations ADD COLUMN ... NOT NULL DEFAULT ''.
constexpr const char* kSteps[] = {
    // Organizations by identity, the case-folded page address; rowid order is the order they
    // entered the base. Times are seconds since the epoch; runs are named by their results file.
    R"sql(
CREATE TABLE organizations (
  id INTEGER PRIMARY KEY,
  identity TEXT NOT NULL UNIQUE,
  link TEXT NOT NULL,
  category TEXT NOT NULL,
  organization TEXT NOT NULL,
  address TEXT NOT NULL,
  city TEXT NOT NULL,
  phone TEXT NOT NULL,
  whatsapp TEXT NOT NULL,
  telegram TEXT NOT NULL,
  max_profile TEXT NOT NULL,
  web_site TEXT NOT NULL,
  vk_group TEXT NOT NULL,
  telegram_social TEXT NOT NULL,
  first_seen INTEGER NOT NULL,
  last_seen INTEGER NOT NULL,
  first_run TEXT NOT NULL,
  last_run TEXT NOT NULL
);
CREATE INDEX organizations_by_first_seen ON organizations (first_seen);
CREATE INDEX organizations_by_first_run ON organizations (first_run);
-- Addresses other than its own that an organization's page was queued under, case-folded: the
-- site redirected it, or the fetch took another address after a 404.
CREATE TABLE aliases (
  identity TEXT PRIMARY KEY,
  organization INTEGER NOT NULL
) WITHOUT ROWID;
CREATE TABLE runs (
  id INTEGER PRIMARY KEY,
  results_file TEXT NOT NULL UNIQUE,
  log_file TEXT NOT NULL DEFAULT '',
  workbook_file TEXT NOT NULL DEFAULT '',
  selection TEXT NOT NULL DEFAULT '',
  started INTEGER,
  ended INTEGER,
  row_count INTEGER,
  new_count INTEGER,
  known_count INTEGER,
  refreshed_count INTEGER,
  field_coverage TEXT
);
)sql",
};
static_assert(std::size(kSteps) == kSchemaVersion, "one step for every version");

// The base's version, once it is clear that this program may write into it. Version and tables
// are read by one statement, so from one snapshot: a copy creating the base at the same moment
// is never seen half-way (version 0 with tables).
std::int64_t CheckedVersion(Connection& connection) {
  Statement statement(connection,
                      "SELECT user_version, (SELECT count(*) FROM sqlite_schema) "
                      "FROM pragma_user_version");
  Query read(statement);
  read.Step();
  const std::int64_t version = read.Integer(0);
  if (version > kSchemaVersion) {
    throw BaseError(BaseProblem::TooNew, connection.Path(),
                    "её записала более новая версия программы (версия базы " +
                        std::to_string(version) + ", эта программа знает до " +
                        std::to_string(kSchemaVersion) + ")");
  }
  if (version < 0 || (version == 0 && read.Integer(1) != 0)) {
    throw BaseError(BaseProblem::Foreign, connection.Path(), "это база данных другой программы");
  }
  return version;
}

}  // namespace

void CheckSchemaVersion(Connection& connection) {
  CheckedVersion(connection);
}

void MigrationStep(Connection& connection, int version) {
  connection.Execute(kSteps[version]);
}

void Migrate(Connection& connection) {
  if (CheckedVersion(connection) == kSchemaVersion) {
    return;
  }
  WriteTransaction transaction(connection);
  // Read again under the lock: another copy may have migrated it while this one waited.
  for (std::int64_t version = CheckedVersion(connection); version < kSchemaVersion; ++version) {
    MigrationStep(connection, static_cast<int>(version));
  }
  connection.Execute(("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str());
  transaction.Commit();
}

}  // namespace mirava::base
