#include "output/results_file_check.h"

#include <algorithm>

#include "analysis/organization_row.h"

namespace mirava::output {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kLineBreak = "\r\n";

// A row as FormatRow writes it: twelve quoted fields and no NUL (a power loss can leave a run of
// zero bytes where the system had not yet written the data).
bool IsWholeRow(std::string_view line) {
  const auto tabs = std::count(line.begin(), line.end(), '\t');
  return tabs == static_cast<long>(analysis::kColumnTitles.size() - 1) && line.size() >= 2 &&
         line.front() == '"' && line.back() == '"' && line.find('\0') == std::string_view::npos;
}

}  // namespace

std::string_view RowKey(std::string_view row) {
  return row.substr(0, row.find('\t'));
}

std::variant<ResultsFileContents, ResultsFileDamage> InspectResultsFile(std::string_view bytes) {
  const std::string head =
      std::string(kByteOrderMark) + analysis::HeaderLine() + std::string(kLineBreak);
  ResultsFileContents contents;
  if (bytes.size() < head.size() && std::string_view(head).substr(0, bytes.size()) == bytes) {
    contents.NeedsHeader = true;
    return contents;
  }
  if (bytes.substr(0, head.size()) != head) {
    return ResultsFileDamage{"файл начинается не с заголовка столбцов"};
  }
  std::size_t start = head.size();
  long long line_number = 1;
  for (;;) {
    const std::size_t end = bytes.find(kLineBreak, start);
    if (end == std::string_view::npos) {
      break;  // what follows the last line break is a torn line, or nothing
    }
    ++line_number;
    const std::string_view line = bytes.substr(start, end - start);
    if (!IsWholeRow(line)) {
      return ResultsFileDamage{"строка " + std::to_string(line_number) + " повреждена"};
    }
    contents.RowKeys.emplace(RowKey(line));
    ++contents.Rows;
    start = end + kLineBreak.size();
  }
  contents.WholeSize = start;
  return contents;
}

}  // namespace mirava::output
