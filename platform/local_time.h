#pragma once
// The local date and time as a log line shows it, for front ends without a toolkit of their own.
#include <ctime>
#include <string>

namespace mirava::platform {

// The C library's locale (LC_TIME): its date format, one space, its time format; the time is left
// out at exactly 00:00:00. Under the C or POSIX locale: dd.mm.yyyy H:mm:ss.
std::string FormatLocalTimestamp(std::time_t moment);
std::string LocalLogTimestamp();

}  // namespace mirava::platform
