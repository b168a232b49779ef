// settings.ini: a file read and written back unchanged is byte for byte the same; setting one of
// the three keys makes it read back as set and leaves the other two and every other line alone;
// the integer reading agrees with a plain reference.
//
// Input: the first byte picks the key and the value to set, the rest is the file.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz/config_parsers.h"
#include "fuzz/fuzz_check.h"

namespace {

using namespace mirava::fuzz::config;

std::optional<int> RefParseInteger(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) {
    return std::nullopt;
  }
  long long value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') {
      return std::nullopt;
    }
    value = value * 10 + (c - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) {
      return std::nullopt;
    }
  }
  value = negative ? -value : value;
  if (value > INT_MAX || value < INT_MIN) {
    return std::nullopt;
  }
  return static_cast<int>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  const IniDocument original(bytes);
  FUZZ_CHECK(original.Bytes() == bytes);

  const char* const keys[] = {kUseProxyKey, kThreadsKey, kIntervalKey};
  for (const char* key : keys) {
    const std::optional<std::string> value = original.Value(kSettingsSection, key);
    if (value) {
      FUZZ_CHECK(ParseInteger(*value) == RefParseInteger(*value));
      FUZZ_CHECK(original.ReadInteger(kSettingsSection, key, -7) ==
                 RefParseInteger(*value).value_or(-7));
    }
  }

  const char* key = keys[data[0] % 3];
  const int number = static_cast<int>(data[0]) - 100;
  IniDocument changed(bytes);
  changed.SetValue(kSettingsSection, key, std::to_string(number));
  FUZZ_CHECK(changed.ReadInteger(kSettingsSection, key, INT_MIN) == number);
  for (const char* other : keys) {
    if (other != key) {
      FUZZ_CHECK(changed.Value(kSettingsSection, other) == original.Value(kSettingsSection, other));
    }
  }
  // Setting the same value again changes nothing more.
  IniDocument again(changed.Bytes());
  again.SetValue(kSettingsSection, key, std::to_string(number));
  FUZZ_CHECK(again.Bytes() == changed.Bytes());
  return 0;
}
