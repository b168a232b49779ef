#include "engine/platform/local_time.h"

#include <langinfo.h>

namespace mirava::engine::platform {

namespace {

std::string Format(const char* format, const std::tm& parts) {
  char buffer[128];
  const std::size_t size = std::strftime(buffer, sizeof buffer, format, &parts);
  return std::string(buffer, size);
}

}  // namespace

std::string FormatLocalTimestamp(std::time_t moment) {
  std::tm parts{};
  localtime_r(&moment, &parts);
  std::string stamp = Format(nl_langinfo(D_FMT), parts);
  if (parts.tm_hour != 0 || parts.tm_min != 0 || parts.tm_sec != 0) {
    stamp += ' ';
    stamp += Format(nl_langinfo(T_FMT), parts);
  }
  return stamp;
}

std::string LocalLogTimestamp() {
  return FormatLocalTimestamp(std::time(nullptr));
}

}  // namespace mirava::engine::platform
