#pragma once
// settings.ini: the three run parameters of section [Settings], and the optional limit of
// unrecognised pages that only the operator writes. Other sections and keys of the file are never
// touched.
#include <optional>
#include <string>
#include <string_view>

namespace mirava::config {

inline constexpr const char* kSettingsFileName = "settings.ini";
inline constexpr const char* kSettingsSection = "Settings";
inline constexpr const char* kUseProxyKey = "UseProxy";
inline constexpr const char* kThreadsKey = "Threads";
inline constexpr const char* kIntervalKey = "Interval";
inline constexpr const char* kUnrecognisedPagesLimitKey = "UnrecognisedPagesLimit";
inline constexpr const char* kOnlyNewKey = "OnlyNew";
inline constexpr const char* kRefreshDaysKey = "RefreshDays";

struct StoredSettings {
  bool UseProxy = false;  // any non-zero integer means ticked
  int Threads = 1;
  // Nothing when the key is absent or not an integer.
  std::optional<int> Interval;
  // Nothing when the key is absent, not an integer or negative: the run's own default holds.
  std::optional<int> UnrecognisedPagesLimit;
  // Nothing when the key is absent (or, for the days, not an integer of at least 0): the window
  // then writes it only once the operator sets something else than off and 0.
  std::optional<bool> OnlyNew;
  std::optional<int> RefreshDays;
};

// A missing or unreadable file gives the defaults.
StoredSettings ReadSettings(const std::string& path);

// Writes one key into the file at once (creating the file when missing). Throws
// platform::FileError naming the file when it cannot be read or written.
void WriteSetting(const std::string& path, std::string_view key, int value);

}  // namespace mirava::config
