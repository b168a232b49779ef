#include "base/base_error.h"

#include <sqlite3.h>

namespace mirava::base {

namespace {

std::string Message(std::string_view path, std::string_view reason) {
  std::string message = "База организаций ";
  message += path;
  message += " недоступна: ";
  message += reason;
  return message;
}

struct CodeRow {
  int Code;
  BaseProblem Problem;
  std::string_view Reason;
};

// By primary result code; the wording of the file system's refusals is the one the rest of the
// program uses.
constexpr CodeRow kCodeReasons[] = {
    {SQLITE_NOTADB, BaseProblem::Damaged, "файл не является базой данных или повреждён"},
    {SQLITE_CORRUPT, BaseProblem::Damaged, "файл повреждён"},
    {SQLITE_BUSY, BaseProblem::Busy, "она занята другой копией программы"},
    {SQLITE_LOCKED, BaseProblem::Busy, "она занята другой копией программы"},
    {SQLITE_FULL, BaseProblem::Failed, "нет места на диске"},
    {SQLITE_READONLY, BaseProblem::Failed, "файл или папка доступны только для чтения"},
    {SQLITE_PERM, BaseProblem::Failed, "нет прав доступа к файлу или папке"},
    {SQLITE_AUTH, BaseProblem::Failed, "нет прав доступа к файлу или папке"},
    {SQLITE_CANTOPEN, BaseProblem::Failed, "не удалось открыть файл"},
    {SQLITE_IOERR, BaseProblem::Failed, "ошибка чтения или записи файла"},
    {SQLITE_NOMEM, BaseProblem::Failed, "не хватает памяти"},
};

}  // namespace

BaseError::BaseError(BaseProblem problem, std::string_view path, std::string_view reason)
    : std::runtime_error(Message(path, reason)), problem_(problem) {}

BaseError SqliteError(int code, std::string_view path, std::string_view detail) {
  const int primary = code & 0xff;
  for (const CodeRow& row : kCodeReasons) {
    if (row.Code == primary) {
      return BaseError(row.Problem, path, row.Reason);
    }
  }
  return BaseError(BaseProblem::Failed, path, "ошибка SQLite (" + std::string(detail) + ")");
}

}  // namespace mirava::base
