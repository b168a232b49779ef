#include "base/sqlite_connection.h"

#include <utility>

#include "base/base_error.h"
#include "base/sqlite_statement.h"

namespace mirava::base {

Connection::Connection(std::string path, std::chrono::milliseconds busy_timeout)
    : path_(std::move(path)), busy_timeout_(busy_timeout) {
  sqlite3* handle = nullptr;
  const int code =
      sqlite3_open_v2(path_.c_str(), &handle, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  // A failed open still gives a handle (unless memory ran out), which holds the message.
  handle_.reset(handle);
  if (code != SQLITE_OK) {
    Fail(code);
  }
  sqlite3_extended_result_codes(Handle(), 1);
  Check(sqlite3_busy_timeout(Handle(), static_cast<int>(busy_timeout.count())));
}

void Connection::Execute(const char* sql) {
  Check(sqlite3_exec(Handle(), sql, nullptr, nullptr, nullptr));
}

std::int64_t Connection::ReadInteger(const char* sql) {
  Statement statement(*this, sql);
  Query query(statement);
  return query.Step() ? query.Integer(0) : 0;
}

std::string Connection::ReadText(const char* sql) {
  Statement statement(*this, sql);
  Query query(statement);
  return query.Step() ? query.Text(0) : std::string();
}

void Connection::Fail(int code) const {
  throw SqliteError(code, path_, sqlite3_errmsg(Handle()));
}

}  // namespace mirava::base
