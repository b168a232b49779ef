#include "base/sqlite_statement.h"

namespace mirava::base {

Statement::Statement(Connection& connection, std::string_view sql) : connection_(connection) {
  sqlite3_stmt* handle = nullptr;
  const int code = sqlite3_prepare_v3(connection.Handle(), sql.data(), static_cast<int>(sql.size()),
                                      SQLITE_PREPARE_PERSISTENT, &handle, nullptr);
  handle_.reset(handle);
  connection.Check(code);
}

Query::~Query() {
  sqlite3_reset(Handle());
  sqlite3_clear_bindings(Handle());
}

Query& Query::Bind(int index, std::int64_t value) {
  statement_.connection_.Check(sqlite3_bind_int64(Handle(), index, value));
  return *this;
}

Query& Query::Bind(int index, std::string_view text) {
  statement_.connection_.Check(sqlite3_bind_text64(Handle(), index, text.data(), text.size(),
                                                   SQLITE_TRANSIENT, SQLITE_UTF8));
  return *this;
}

bool Query::Step() {
  const int code = sqlite3_step(Handle());
  if (code == SQLITE_ROW) {
    return true;
  }
  if (code == SQLITE_DONE) {
    return false;
  }
  statement_.connection_.Fail(code);
}

std::int64_t Query::Integer(int column) const {
  return sqlite3_column_int64(Handle(), column);
}

std::string Query::Text(int column) const {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(Handle(), column));
  return text == nullptr
             ? std::string()
             : std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(Handle(), column)));
}

bool Query::IsNull(int column) const {
  return sqlite3_column_type(Handle(), column) == SQLITE_NULL;
}

}  // namespace mirava::base
