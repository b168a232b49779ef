#include "engine/log_line.h"

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
  const std::size_t at = proxy.find('@');
  const std::string_view shown =
      at == std::string_view::npos ? std::string_view() : proxy.substr(at + 1);
  std::string line;
  line.append(timestamp).append(" (").append(shown).append("): ").append(message);
  return line;
}

}  // namespace mirava::engine
