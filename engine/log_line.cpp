#include "engine/log_line.h"

#include "engine/proxy_health.h"

namespace mirava::engine {

std::string FormatLogLine(std::string_view timestamp, std::string_view message) {
  std::string line;
  line.reserve(timestamp.size() + 2 + message.size());
  line.append(timestamp).append(": ").append(message);
  return line;
}

std::string FormatWorkerLogLine(std::string_view timestamp, std::string_view proxy,
                                std::string_view message) {
  if (proxy.empty()) {
    return FormatLogLine(timestamp, message);
  }
  const std::string shown = ProxyDisplayName(std::string(proxy));
  std::string line;
  line.append(timestamp).append(" (").append(shown).append("): ").append(message);
  return line;
}

}  // namespace mirava::engine
