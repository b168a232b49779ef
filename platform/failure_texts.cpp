#include "platform/failure_texts.h"

#include <cerrno>
#include <system_error>

namespace mirava::platform {

namespace {

struct FailureRow {
  Failure Kind;
  std::string_view Text;
};

constexpr FailureRow kFailureTexts[] = {
    {Failure::HostNotFound,
     "Не удалось найти сервер по имени (проверьте адрес и подключение к сети)"},
    {Failure::ConnectFailed, "Не удалось подключиться к серверу"},
    {Failure::TimedOut, "Сервер не ответил вовремя"},
    {Failure::TlsFailed, "Ошибка защищённого соединения или сертификата сервера"},
    {Failure::ProxyFailed, "Прокси-сервер недоступен или отказал в соединении"},
    {Failure::ProxyCredentials, "Прокси-сервер требует логин и пароль или не принял их"},
    {Failure::BadAddress, "Неверный адрес страницы"},
    {Failure::DiskFull, "Нет места на диске"},
    {Failure::ReadOnlyFolder, "Папка доступна только для чтения"},
    {Failure::NoPermission, "Нет прав доступа к файлу или папке"},
};

}  // namespace

std::string_view FailureText(Failure failure) {
  for (const FailureRow& row : kFailureTexts) {
    if (row.Kind == failure) {
      return row.Text;
    }
  }
  return {};
}

std::optional<Failure> FailureOfErrno(int error) {
  switch (error) {
    case ENOSPC:
#ifdef EDQUOT  // not in every C library (mingw's has none)
    case EDQUOT:
#endif
      return Failure::DiskFull;
    case EROFS:
      return Failure::ReadOnlyFolder;
    case EACCES:
    case EPERM:
      return Failure::NoPermission;
    default:
      return std::nullopt;
  }
}

std::string SystemErrorText(int error) {
  if (const std::optional<Failure> failure = FailureOfErrno(error)) {
    return std::string(FailureText(*failure));
  }
  return std::generic_category().message(error);
}

}  // namespace mirava::platform
