#pragma once
// settings.ini: the three run parameters of section [Settings]. Other sections and keys of the
// file are never touched.
#include <optional>
#include <string>
#include <string_view>

namespace mirava::config {

inline constexpr const char* kSettingsFileName = "settings.ini";
inline constexpr const char* kSettingsSection = "Settings";
inline constexpr const char* kUseProxyKey = "UseProxy";
inline constexpr const char* kThreadsKey = "Threads";
inline constexpr const char* kIntervalKey = "Interval";

struct StoredSettings {
  bool UseProxy = false;  // any non-zero integer means ticked
  int Threads = 1;
  // Nothing when the key is absent or not an integer.
  std::optional<int> Interval;
};

// A missing or unreadable file gives the defaults.
StoredSettings ReadSettings(const std::string& path);

// Writes one key into the file at once (creating the file when missing). Throws
// std::system_error naming the file when it cannot be read or written.
void WriteSetting(const std::string& path, std::string_view key, int value);

}  // namespace mirava::config
