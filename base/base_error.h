#pragma once
// The one error of the organization base. Its text is what the operator reads:
// "База организаций <file> недоступна: <reason>".
#include <stdexcept>
#include <string>
#include <string_view>

namespace mirava::base {

// Why the base could not be used; the caller decides by this, never by the text.
enum class BaseProblem {
  Damaged,  // not a database file, or a damaged one; its bytes were left as they were
  Busy,     // another copy of the program held it longer than the busy time-out
  TooNew,   // written by a newer version of the program
  Foreign,  // a database, but not an organization base
  Failed,   // no access, no space, a read or write failure, anything else
};

class BaseError : public std::runtime_error {
 public:
  BaseError(BaseProblem problem, std::string_view path, std::string_view reason);

  BaseProblem Problem() const { return problem_; }

 private:
  BaseProblem problem_;
};

// The error for an SQLite result code (extended codes allowed). `detail` is SQLite's own message,
// shown only for codes without a Russian reason of their own.
BaseError SqliteError(int code, std::string_view path, std::string_view detail);

}  // namespace mirava::base
