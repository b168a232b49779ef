#include "analysis/organization_row.h"

namespace mirava::analysis {

OrganizationRow ExtractOrganizationRow(std::string_view, const std::string& url,
                                       const std::string& category) {
  OrganizationRow row;
  row[0] = url;
  row[1] = category;
  return row;
}

std::string FormatRow(const OrganizationRow& row) {
  std::string line;
  for (std::size_t i = 0; i < row.size(); ++i) {
    if (i > 0) {
      line += '\t';
    }
    line.append("\"").append(row[i]).append("\"");
  }
  return line;
}

std::string HeaderLine() {
  OrganizationRow titles;
  for (std::size_t i = 0; i < titles.size(); ++i) {
    titles[i] = kColumnTitles[i];
  }
  return FormatRow(titles);
}

}  // namespace mirava::analysis
