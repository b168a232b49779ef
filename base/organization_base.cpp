#include "base/organization_base.h"

#include <limits>
#include <string>

#include "base/base_error.h"
#include "base/organization_identity.h"
#include "base/schema.h"
#include "base/sqlite_connection.h"
#include "base/sqlite_statement.h"
#include "base/write_transaction.h"

namespace mirava::base {

namespace {

using analysis::kColumnCount;

// Statement parameters: ?1 the identity (or row id), then the twelve values, the time, the run.
constexpr int kFirstValueParameter = 2;
constexpr int kSeenParameter = kFirstValueParameter + static_cast<int>(kColumnCount);
constexpr int kRunParameter = kSeenParameter + 1;

// "link, category, ..."
std::string ValueColumns() {
  std::string list;
  for (std::string_view column : kValueColumns) {
    list += list.empty() ? "" : ", ";
    list += column;
  }
  return list;
}

std::string Parameter(int number) {
  return "?" + std::to_string(number);
}

// "?2, ?3, ..." or "link = ?2, category = ?3, ..."
std::string ValueParameters(bool assign) {
  std::string list;
  for (std::size_t column = 0; column < kColumnCount; ++column) {
    list += column == 0 ? "" : ", ";
    if (assign) {
      list += std::string(kValueColumns[column]) + " = ";
    }
    list += Parameter(kFirstValueParameter + static_cast<int>(column));
  }
  return list;
}

std::string InsertSql() {
  const std::string seen = Parameter(kSeenParameter);
  const std::string run = Parameter(kRunParameter);
  return "INSERT INTO organizations (identity, " + ValueColumns() +
         ", first_seen, last_seen, first_run, last_run) VALUES (?1, " + ValueParameters(false) +
         ", " + seen + ", " + seen + ", " + run + ", " + run + ")";
}

// The organization whose own address is ?1, else the one an address queued as ?1 led to last.
constexpr const char* kKnownAs =
    "coalesce((SELECT id FROM organizations WHERE identity = ?1), "
    "(SELECT organization FROM aliases WHERE identity = ?1))";

std::string UpdateSql() {
  return "UPDATE organizations SET " + ValueParameters(true) +
         ", last_seen = " + Parameter(kSeenParameter) + ", last_run = " + Parameter(kRunParameter) +
         " WHERE id = ?1";
}

// Reads only, before anything may write: a file that is not a sound database (random bytes, a
// cut-off base) fails here and stays as it was.
void CheckSound(Connection& connection) {
  if (connection.ReadText("PRAGMA quick_check(1)") != "ok") {
    throw BaseError(BaseProblem::Damaged, connection.Path(), "файл повреждён");
  }
}

// WAL: a copy that reads never waits for one that writes, and a crash never leaves the base
// half-written. SQLite does not wait for the switch when another copy switches the same new file
// at that moment, it answers busy at once; so the switch waits here, as a write would.
void SwitchToWriteAheadLog(Connection& connection) {
  constexpr int kPauseMs = 10;
  for (int waited = 0;; waited += kPauseMs) {
    try {
      if (connection.ReadText("PRAGMA journal_mode = WAL") != "wal") {
        throw BaseError(BaseProblem::Failed, connection.Path(),
                        "не удалось включить журнал записи (WAL)");
      }
      return;
    } catch (const BaseError& error) {
      if (error.Problem() != BaseProblem::Busy || waited >= connection.BusyTimeout().count()) {
        throw;
      }
    }
    sqlite3_sleep(kPauseMs);
  }
}

Connection& SetUp(Connection& connection) {
  CheckSound(connection);
  CheckSchemaVersion(connection);
  SwitchToWriteAheadLog(connection);
  // A power cut may lose the latest batches, never the base.
  connection.Execute("PRAGMA synchronous = NORMAL");
  Migrate(connection);
  return connection;
}

}  // namespace

struct OrganizationBase::State {
  State(const std::string& path, const BaseOptions& options)
      : connection(path, options.BusyTimeout),
        find(SetUp(connection),
             std::string("SELECT first_seen, last_seen FROM organizations WHERE id = ") + kKnownAs),
        find_values(connection, "SELECT id, identity, " + ValueColumns() +
                                    " FROM organizations WHERE id = " + kKnownAs),
        insert(connection, InsertSql()),
        update(connection, UpdateSql()),
        alias(connection,
              "INSERT INTO aliases (identity, organization) VALUES (?1, ?2) "
              "ON CONFLICT (identity) DO UPDATE SET organization = excluded.organization "
              "WHERE organization <> excluded.organization"),
        first_written(connection, "SELECT identity FROM organizations WHERE first_run = ?1"),
        count(connection, "SELECT count(*) FROM organizations"),
        list(connection, "SELECT " + ValueColumns() +
                             ", first_seen, last_seen, first_run, last_run FROM organizations "
                             "WHERE first_seen >= ?1 ORDER BY first_seen, id"),
        run_start(connection,
                  "INSERT INTO runs (results_file, log_file, workbook_file, selection, started) "
                  "VALUES (?1, ?2, ?3, ?4, ?5) ON CONFLICT (results_file) DO UPDATE SET "
                  "log_file = excluded.log_file, workbook_file = excluded.workbook_file, "
                  "selection = excluded.selection, started = coalesce(started, excluded.started)"),
        run_end(connection,
                "INSERT INTO runs (results_file, ended, row_count, new_count, known_count, "
                "refreshed_count, field_coverage) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7) "
                "ON CONFLICT (results_file) DO UPDATE SET ended = excluded.ended, "
                "row_count = excluded.row_count, new_count = excluded.new_count, "
                "known_count = excluded.known_count, refreshed_count = excluded.refreshed_count, "
                "field_coverage = excluded.field_coverage"),
        runs(connection,
             "SELECT results_file, log_file, workbook_file, selection, started, ended, row_count, "
             "new_count, known_count, refreshed_count, field_coverage FROM runs ORDER BY id") {}

  // Records one row inside the caller's transaction.
  RowOutcome Record(std::string_view results_file, std::string_view queued_address,
                    const analysis::OrganizationRow& row, EpochSeconds seen_at);

  Connection connection;
  Statement find;
  Statement find_values;
  Statement insert;
  Statement update;
  Statement alias;
  Statement first_written;
  Statement count;
  Statement list;
  Statement run_start;
  Statement run_end;
  Statement runs;
};

OrganizationBase::OrganizationBase(const std::string& path, const BaseOptions& options)
    : state_(std::make_unique<State>(path, options)) {}

OrganizationBase::~OrganizationBase() = default;

RowOutcome OrganizationBase::State::Record(std::string_view results_file,
                                           std::string_view queued_address,
                                           const analysis::OrganizationRow& row,
                                           EpochSeconds seen_at) {
  std::optional<std::int64_t> id;
  std::string identity = OrganizationIdentity(row[analysis::kLinkColumn]);
  bool same_values = true;
  {
    Query known(find_values);
    known.Bind(1, identity);
    if (known.Step()) {
      id = known.Integer(0);
      identity = known.Text(1);  // not the link's when the link was a queued address of it
      for (std::size_t column = 0; column < kColumnCount && same_values; ++column) {
        same_values = known.Text(static_cast<int>(column) + 2) == row[column];
      }
    }
  }
  {
    Query write(id ? update : insert);
    if (id) {
      write.Bind(1, *id);
    } else {
      write.Bind(1, identity);
    }
    for (std::size_t column = 0; column < kColumnCount; ++column) {
      write.Bind(kFirstValueParameter + static_cast<int>(column), row[column]);
    }
    write.Bind(kSeenParameter, seen_at).Bind(kRunParameter, results_file);
    write.Step();
  }
  const RowOutcome outcome = !id           ? RowOutcome::New
                             : same_values ? RowOutcome::Known
                                           : RowOutcome::Changed;
  if (!id) {
    id = sqlite3_last_insert_rowid(connection.Handle());
  }
  const std::string queued = OrganizationIdentity(queued_address);
  if (!queued.empty() && queued != identity) {
    Query write(alias);
    write.Bind(1, queued).Bind(2, *id);
    write.Step();
  }
  return outcome;
}

std::vector<RowOutcome> OrganizationBase::RecordRows(std::string_view results_file,
                                                     std::span<const RecordedRow> rows,
                                                     EpochSeconds seen_at) {
  std::vector<RowOutcome> outcomes;
  outcomes.reserve(rows.size());
  WriteTransaction transaction(state_->connection);
  for (const RecordedRow& recorded : rows) {
    outcomes.push_back(state_->Record(results_file, recorded.QueuedAddress, recorded.Row, seen_at));
  }
  transaction.Commit();
  return outcomes;
}

std::vector<RowOutcome> OrganizationBase::RecordRows(
    std::string_view results_file, std::span<const analysis::OrganizationRow> rows,
    EpochSeconds seen_at) {
  std::vector<RowOutcome> outcomes;
  outcomes.reserve(rows.size());
  WriteTransaction transaction(state_->connection);
  for (const analysis::OrganizationRow& row : rows) {
    outcomes.push_back(state_->Record(results_file, row[analysis::kLinkColumn], row, seen_at));
  }
  transaction.Commit();
  return outcomes;
}

std::optional<Sighting> OrganizationBase::Find(std::string_view url) {
  Query find(state_->find);
  find.Bind(1, OrganizationIdentity(url));
  if (!find.Step()) {
    return std::nullopt;
  }
  return Sighting{find.Integer(0), find.Integer(1)};
}

std::unordered_set<std::string> OrganizationBase::FirstWrittenBy(std::string_view results_file) {
  std::unordered_set<std::string> identities;
  Query read(state_->first_written);
  read.Bind(1, results_file);
  while (read.Step()) {
    identities.insert(read.Text(0));
  }
  return identities;
}

std::int64_t OrganizationBase::OrganizationCount() {
  Query read(state_->count);
  read.Step();
  return read.Integer(0);
}

void OrganizationBase::RecordRunStart(const RunStart& start) {
  WriteTransaction transaction(state_->connection);
  {
    Query write(state_->run_start);
    write.Bind(1, start.ResultsFile)
        .Bind(2, start.LogFile)
        .Bind(3, start.WorkbookFile)
        .Bind(4, start.Selection)
        .Bind(5, start.Started);
    write.Step();
  }
  transaction.Commit();
}

void OrganizationBase::RecordRunEnd(const RunEnd& end) {
  WriteTransaction transaction(state_->connection);
  {
    Query write(state_->run_end);
    write.Bind(1, end.ResultsFile)
        .Bind(2, end.Ended)
        .Bind(3, end.Rows)
        .Bind(4, end.New)
        .Bind(5, end.Known)
        .Bind(6, end.Refreshed)
        .Bind(7, end.FieldCoverage);
    write.Step();
  }
  transaction.Commit();
}

std::vector<StoredRun> OrganizationBase::Runs() {
  std::vector<StoredRun> runs;
  Query read(state_->runs);
  while (read.Step()) {
    StoredRun run;
    run.ResultsFile = read.Text(0);
    run.LogFile = read.Text(1);
    run.WorkbookFile = read.Text(2);
    run.Selection = read.Text(3);
    if (!read.IsNull(4)) {
      run.Started = read.Integer(4);
    }
    if (!read.IsNull(5)) {
      run.Ended = read.Integer(5);
    }
    run.Rows = read.Integer(6);
    run.New = read.Integer(7);
    run.Known = read.Integer(8);
    run.Refreshed = read.Integer(9);
    run.FieldCoverage = read.Text(10);
    runs.push_back(std::move(run));
  }
  return runs;
}

void OrganizationBase::ListOrganizations(
    std::optional<EpochSeconds> since,
    const std::function<void(const StoredOrganization&)>& visit) {
  Query read(state_->list);
  read.Bind(1, since.value_or(std::numeric_limits<EpochSeconds>::min()));
  StoredOrganization organization;
  while (read.Step()) {
    for (std::size_t column = 0; column < kColumnCount; ++column) {
      organization.Row[column] = read.Text(static_cast<int>(column));
    }
    organization.FirstSeen = read.Integer(kColumnCount);
    organization.LastSeen = read.Integer(kColumnCount + 1);
    organization.FirstRun = read.Text(kColumnCount + 2);
    organization.LastRun = read.Text(kColumnCount + 3);
    visit(organization);
  }
}

}  // namespace mirava::base
