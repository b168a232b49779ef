#pragma once
// The one format of a line in the log pane.
#include <string>
#include <string_view>

namespace mirava::engine {

// timestamp ": " message
std::string FormatLogLine(std::string_view timestamp, std::string_view message);

// A worker's line: with a non-empty proxy entry, " (" + its host and port + ")" goes before the
// colon; never its credentials.
std::string FormatWorkerLogLine(std::string_view timestamp, std::string_view proxy,
                                std::string_view message);

}  // namespace mirava::engine
