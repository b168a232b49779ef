#include "output/field_coverage.h"

#include <stdexcept>
#include <string_view>

#include "output/tab_import.h"
#include "platform/file_access.h"

namespace mirava::output {

namespace {

int RoundedDownPercent(const FieldCoverage& coverage, std::size_t column) {
  if (coverage.Rows <= 0) {
    return 0;
  }
  return static_cast<int>(coverage.Filled[column] * 100 / coverage.Rows);
}

}  // namespace

double FieldCoverage::Share(std::size_t column) const {
  if (Rows <= 0) {
    return 0.0;
  }
  return 100.0 * static_cast<double>(Filled[column]) / static_cast<double>(Rows);
}

FieldCoverage MeasureFieldCoverage(const std::string& results_path) {
  FieldCoverage coverage;
  try {
    platform::InputFile file(results_path);
    TTabRecordReader reader(
        [&file](char* buffer, std::size_t size) { return file.Read(buffer, size); });
    TabRecord fields;
    bool header = true;
    while (reader.NextRecord(fields)) {
      if (header) {
        header = false;
        continue;
      }
      ++coverage.Rows;
      for (std::size_t column = 0; column < analysis::kColumnCount && column < fields.size();
           ++column) {
        if (!fields[column].empty()) {
          ++coverage.Filled[column];
        }
      }
    }
  } catch (const platform::FileError& error) {
    throw std::runtime_error(results_path + ": " + error.Reason());
  }
  return coverage;
}

std::string FieldCoverageText(const FieldCoverage& coverage) {
  if (coverage.Rows <= 0) {
    return std::string(kCoverageLinePrefix) + "строк нет";
  }
  std::string text(kCoverageLinePrefix);
  for (std::size_t column = 0; column < analysis::kColumnCount; ++column) {
    if (column > 0) {
      text += ", ";
    }
    text += analysis::kColumnTitles[column];
    text += ' ';
    text += std::to_string(RoundedDownPercent(coverage, column));
    text += '%';
  }
  return text;
}

std::vector<std::string> CoverageDropWarnings(const StoredCoverage& previous,
                                              const FieldCoverage& now) {
  std::vector<std::string> warnings;
  if (previous.Coverage.Rows <= 0 || now.Rows <= 0) {
    return warnings;
  }
  for (std::size_t column = 0; column < analysis::kColumnCount; ++column) {
    if (previous.Coverage.Share(column) - now.Share(column) <= kCoverageDropPoints) {
      continue;
    }
    warnings.push_back("Внимание: значение «" + std::string(analysis::kColumnTitles[column]) +
                       "» найдено в " + std::to_string(RoundedDownPercent(now, column)) +
                       "% строк, а в прошлой завершенной работе (" + previous.ResultsFileName +
                       ") в " + std::to_string(RoundedDownPercent(previous.Coverage, column)) +
                       "%. Возможно, сайт изменил страницы.");
  }
  return warnings;
}

}  // namespace mirava::output
