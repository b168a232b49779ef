#include "config/folder_checks.h"

#include <algorithm>
#include <filesystem>

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

}  // namespace

std::optional<std::string> FailedFolderCheck(const std::string& folder) {
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
  return std::nullopt;
}

}  // namespace mirava::config
