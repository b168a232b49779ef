#pragma once
// A write transaction that rolls back unless committed.
#include "base/sqlite_connection.h"

namespace mirava::base {

class WriteTransaction {
 public:
  // Takes the write lock at once (waiting up to the busy time-out): a transaction that read
  // first and wrote later could not wait for a writing copy, it would fail at once.
  explicit WriteTransaction(Connection& connection);
  ~WriteTransaction();
  WriteTransaction(const WriteTransaction&) = delete;
  WriteTransaction& operator=(const WriteTransaction&) = delete;

  void Commit();

 private:
  Connection& connection_;
  bool open_ = true;
};

}  // namespace mirava::base
