#include "config/settings.h"

#include "config/ini_file.h"
#include "platform/file_access.h"

namespace mirava::config {

StoredSettings ReadSettings(const std::string& path) {
  StoredSettings settings;
  std::optional<std::string> bytes;
  try {
    bytes = platform::ReadFileIfPresent(path);
  } catch (const platform::FileError&) {
    return settings;
  }
  const IniDocument ini(bytes.value_or(std::string()));
  settings.UseProxy = ini.ReadInteger(kSettingsSection, kUseProxyKey, 0) != 0;
  settings.Threads = ini.ReadInteger(kSettingsSection, kThreadsKey, 1);
  if (const auto text = ini.Value(kSettingsSection, kIntervalKey)) {
    settings.Interval = ParseInteger(*text);
  }
  if (const auto text = ini.Value(kSettingsSection, kUnrecognisedPagesLimitKey)) {
    if (const auto limit = ParseInteger(*text); limit && *limit >= 0) {
      settings.UnrecognisedPagesLimit = limit;
    }
  }
  if (const auto text = ini.Value(kSettingsSection, kOnlyNewKey)) {
    settings.OnlyNew = ParseInteger(*text).value_or(0) != 0;
  }
  if (const auto text = ini.Value(kSettingsSection, kRefreshDaysKey)) {
    if (const auto days = ParseInteger(*text); days && *days >= 0) {
      settings.RefreshDays = days;
    }
  }
  return settings;
}

void WriteSetting(const std::string& path, std::string_view key, int value) {
  // A file that exists but cannot be read is never replaced: its other sections would be lost.
  IniDocument ini(platform::ReadFileIfPresent(path).value_or(std::string()));
  ini.SetValue(kSettingsSection, key, std::to_string(value));
  platform::WriteFileAtomically(path, ini.Bytes());
}

}  // namespace mirava::config
