#pragma once
// The local date and time as a log line shows it, for front ends without a toolkit of their own.
#include <ctime>
#include <optional>
#include <string>

namespace mirava::platform {

// The C library's locale (LC_TIME): its date format, one space, its time format; the time is left
// out at exactly 00:00:00. Under the C or POSIX locale: dd.mm.yyyy H:mm:ss.
std::string FormatLocalTimestamp(std::time_t moment);
std::string LocalLogTimestamp();

// `moment` in local time.
std::tm LocalTimeParts(std::time_t moment);
// "dd.mm.yyyy" of `moment` in local time, whatever the locale.
std::string FormatLocalDate(std::time_t moment);
// The start of the local day `year`-`month`-`day`; nothing for a day that does not exist.
std::optional<std::time_t> LocalMidnight(int year, int month, int day);

}  // namespace mirava::platform
