#pragma once
// A prepared statement, kept for the life of its connection, and one execution of it.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include <sqlite3.h>

#include "base/sqlite_connection.h"

namespace mirava::base {

class Statement {
 public:
  Statement(Connection& connection, std::string_view sql);

 private:
  friend class Query;
  struct Finalizer {
    void operator()(sqlite3_stmt* handle) const { sqlite3_finalize(handle); }
  };

  Connection& connection_;
  std::unique_ptr<sqlite3_stmt, Finalizer> handle_;
};

// One execution: bind, step, read columns. The statement is reset when the query ends, however
// it ends, so no query left half-read keeps its read snapshot (which would hold back the
// checkpoints of every copy writing the file).
class Query {
 public:
  explicit Query(Statement& statement) : statement_(statement) {}
  ~Query();
  Query(const Query&) = delete;
  Query& operator=(const Query&) = delete;

  // Parameters count from 1. Text is copied.
  Query& Bind(int index, std::int64_t value);
  Query& Bind(int index, std::string_view text);
  // True while there is a row to read; false when the statement is done.
  bool Step();
  // Columns count from 0.
  std::int64_t Integer(int column) const;
  std::string Text(int column) const;
  bool IsNull(int column) const;

 private:
  sqlite3_stmt* Handle() const { return statement_.handle_.get(); }

  Statement& statement_;
};

}  // namespace mirava::base
