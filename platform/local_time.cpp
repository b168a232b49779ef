#include "platform/local_time.h"

#include <langinfo.h>

#include <clocale>
#include <string_view>

namespace mirava::platform {

namespace {

std::string Format(const char* format, const std::tm& parts) {
  char buffer[128];
  const std::size_t size = std::strftime(buffer, sizeof buffer, format, &parts);
  return std::string(buffer, size);
}

// The C and POSIX locales (C.UTF-8 included) would give the American month/day/year; the
// operator reads the Russian numeric form instead, as the window shows it.
bool PlainLocale() {
  const char* name = std::setlocale(LC_TIME, nullptr);
  const std::string_view locale = name != nullptr ? name : "C";
  return locale == "C" || locale == "POSIX" || locale.starts_with("C.");
}

}  // namespace

std::string FormatLocalTimestamp(std::time_t moment) {
  std::tm parts{};
  localtime_r(&moment, &parts);
  const bool plain = PlainLocale();
  std::string stamp = Format(plain ? "%d.%m.%Y" : nl_langinfo(D_FMT), parts);
  if (parts.tm_hour != 0 || parts.tm_min != 0 || parts.tm_sec != 0) {
    stamp += ' ';
    stamp += plain ? std::to_string(parts.tm_hour) + Format(":%M:%S", parts)
                   : Format(nl_langinfo(T_FMT), parts);
  }
  return stamp;
}

std::string LocalLogTimestamp() {
  return FormatLocalTimestamp(std::time(nullptr));
}

std::tm LocalTimeParts(std::time_t moment) {
  std::tm parts{};
  localtime_r(&moment, &parts);
  return parts;
}

}  // namespace mirava::platform
