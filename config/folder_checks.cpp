#include "config/folder_checks.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "analysis/text_encoding.h"

namespace mirava::config {
namespace {

constexpr const char* kInsideArchive =
    "Вы запустили программу изнутри архива!\r\nДля корректной работы программы извлеките файлы "
    "программы из архива в отдельную папку. Это можно сделать, кликнув правой кнопкой мыши на "
    "архиве и выбрав пункт меню \"Извлечь все\"";

constexpr const char* kInsideTemp =
    "Программа запущена из временной папки!\r\nСкорее всего, Вы запустили программу изнутри "
    "архива.\r\nДля корректной работы программы извлеките файлы программы из архива в отдельную "
    "папку. Это можно сделать, кликнув правой кнопкой мыши на архиве и выбрав пункт меню "
    "\"Извлечь все\"";

constexpr const char* kFilesMissing =
    "Программа не обнаружила необходимые для работы файлы!\r\nВероятно, Вы запустили программу "
    "изнутри архива!\r\nДля корректной работы программы извлеките файлы программы из архива в "
    "отдельную папку. Это можно сделать, кликнув правой кнопкой мыши на архиве и выбрав пункт "
    "меню \"Извлечь все\"";

}  // namespace

std::optional<std::string> FailedFolderCheck(const std::string& folder,
                                             bool companion_files_present) {
  if (folder.find("Rar$") != std::string::npos) {
    return kInsideArchive;
  }
  // "/temp/" here, "\temp\" on Windows: the system's own separator around the name.
  const char separator = static_cast<char>(std::filesystem::path::preferred_separator);
  const std::string temp = std::string(1, separator) + "temp" + separator;
  std::string folded = analysis::FoldCaseUtf8(folder);
  // Windows takes "/" as a separator too, and a folder may come spelled with either.
  std::replace(folded.begin(), folded.end(), '/', separator);
  if (folded.find(temp) != std::string::npos) {
    return kInsideTemp;
  }
  if (!companion_files_present) {
    return kFilesMissing;
  }
  return std::nullopt;
}

std::optional<std::string> FailedStartupCheck(const std::string& folder,
                                              const std::string& companion_file) {
  const std::string path = folder + companion_file;
  // A UTF-8 path, whatever the system's code page.
  std::error_code error;
  const bool present = std::filesystem::exists(std::u8string(path.begin(), path.end()), error);
  if (present || error) {
    return std::nullopt;
  }
  return FailedFolderCheck(folder, /*companion_files_present=*/false);
}

}  // namespace mirava::config
