#include <windows.h>

#include <string>

#include "platform/local_time.h"
#include "platform/windows_text.h"

namespace mirava::platform {

namespace {

// The user's regional settings: the short date, or the long time (the system's default).
std::string Format(const SYSTEMTIME& moment, bool date) {
  wchar_t buffer[128];
  const int size = date
                       ? GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_SHORTDATE, &moment, nullptr,
                                         buffer, static_cast<int>(std::size(buffer)), nullptr)
                       : GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, 0, &moment, nullptr, buffer,
                                         static_cast<int>(std::size(buffer)));
  // The count includes the terminating zero.
  return size > 1
             ? platform::windows::Utf8(std::wstring(buffer, static_cast<std::size_t>(size - 1)))
             : std::string();
}

}  // namespace

std::string FormatLocalTimestamp(std::time_t moment) {
  // FILETIME counts 100 ns steps from 1601; time_t seconds from 1970.
  const ULONGLONG ticks = (static_cast<ULONGLONG>(moment) + 11644473600ULL) * 10000000ULL;
  FILETIME utc{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  FILETIME local{};
  SYSTEMTIME parts{};
  FileTimeToLocalFileTime(&utc, &local);
  FileTimeToSystemTime(&local, &parts);
  std::string stamp = Format(parts, true);
  if (parts.wHour != 0 || parts.wMinute != 0 || parts.wSecond != 0) {
    stamp += ' ';
    stamp += Format(parts, false);
  }
  return stamp;
}

std::string LocalLogTimestamp() {
  return FormatLocalTimestamp(std::time(nullptr));
}

std::tm LocalTimeParts(std::time_t moment) {
  std::tm parts{};
  localtime_s(&parts, &moment);
  return parts;
}

}  // namespace mirava::platform
