#pragma once
// One connection to an SQLite file, closed with its owner; every failure is a BaseError that
// names the file.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include <sqlite3.h>

namespace mirava::base {

class Connection {
 public:
  // Opens the file at `path` (UTF-8), creating an empty one when it is missing. Reads nothing
  // yet, so a file that is no database is first noticed by the first statement. A statement
  // that finds the file locked waits up to `busy_timeout` before it fails.
  Connection(std::string path, std::chrono::milliseconds busy_timeout);

  // Statements without results, run one after another.
  void Execute(const char* sql);
  // The first column of the first row as an integer (0 without a row): pragma reads.
  std::int64_t ReadInteger(const char* sql);
  // The first column of the first row as text (empty without a row).
  std::string ReadText(const char* sql);

  // Throws the BaseError for an SQLite result code, with the connection's latest message.
  [[noreturn]] void Fail(int code) const;
  void Check(int code) const {
    if (code != SQLITE_OK) {
      Fail(code);
    }
  }

  sqlite3* Handle() const { return handle_.get(); }
  const std::string& Path() const { return path_; }
  std::chrono::milliseconds BusyTimeout() const { return busy_timeout_; }

 private:
  struct Closer {
    void operator()(sqlite3* handle) const { sqlite3_close_v2(handle); }
  };

  std::string path_;
  std::chrono::milliseconds busy_timeout_;
  std::unique_ptr<sqlite3, Closer> handle_;
};

}  // namespace mirava::base
