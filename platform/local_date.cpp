#include "platform/local_time.h"

#include <ctime>
#include <optional>
#include <string>

namespace mirava::platform {

std::string FormatLocalDate(std::time_t moment) {
  const std::tm parts = LocalTimeParts(moment);
  char buffer[16];
  const std::size_t size = std::strftime(buffer, sizeof buffer, "%d.%m.%Y", &parts);
  return std::string(buffer, size);
}

std::optional<std::time_t> LocalMidnight(int year, int month, int day) {
  std::tm parts{};
  parts.tm_year = year - 1900;
  parts.tm_mon = month - 1;
  parts.tm_mday = day;
  parts.tm_isdst = -1;
  const std::time_t moment = std::mktime(&parts);
  // mktime carries an impossible day over into the next month; such a day does not exist.
  if (moment == static_cast<std::time_t>(-1) || parts.tm_year != year - 1900 ||
      parts.tm_mon != month - 1 || parts.tm_mday != day) {
    return std::nullopt;
  }
  return moment;
}

}  // namespace mirava::platform
