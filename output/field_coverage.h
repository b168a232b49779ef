#pragma once
// How many of a results file's rows carry each of the twelve values, and which values fell from
// one run to the next: a value that stopped being found tells of a site that changed its pages.
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/organization_row.h"

namespace mirava::output {

// How the coverage line of a run's log begins.
inline constexpr std::string_view kCoverageLinePrefix = "Заполнено: ";
// A value whose share fell by more than this many points since the last completed run is named.
inline constexpr double kCoverageDropPoints = 30.0;

struct FieldCoverage {
  long long Rows = 0;
  std::array<long long, analysis::kColumnCount> Filled{};  // rows with a non-empty value

  // The share of rows with the value, 0 to 100; 0 without rows.
  double Share(std::size_t column) const;
};

// Counts the rows of a results file (its header line is not a row). Throws
// std::runtime_error "<path>: <message>" when it cannot be read.
FieldCoverage MeasureFieldCoverage(const std::string& results_path);

// "Заполнено: Ссылка 100%, Имя рубрики 100%, Организация 97%, ..." (shares rounded down, so only
// a value every row has shows 100%); "Заполнено: строк нет" without rows.
std::string FieldCoverageText(const FieldCoverage& coverage);

// An earlier run's coverage and its results file's name.
struct StoredCoverage {
  std::string ResultsFileName;
  FieldCoverage Coverage;
};

// One warning line for each value whose share fell by more than kCoverageDropPoints from
// `previous` to `now`; none when either has no rows.
std::vector<std::string> CoverageDropWarnings(const StoredCoverage& previous,
                                              const FieldCoverage& now);

}  // namespace mirava::output
