#include "base/write_transaction.h"

namespace mirava::base {

WriteTransaction::WriteTransaction(Connection& connection) : connection_(connection) {
  connection_.Execute("BEGIN IMMEDIATE");
}

WriteTransaction::~WriteTransaction() {
  if (open_) {
    sqlite3_exec(connection_.Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
  }
}

void WriteTransaction::Commit() {
  connection_.Execute("COMMIT");
  open_ = false;
}

}  // namespace mirava::base
