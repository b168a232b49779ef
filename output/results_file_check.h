#pragma once
// What an existing results file holds, read before a run goes on writing to it: where its last
// whole line ends and which organizations it has rows for.
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <variant>

namespace mirava::output {

struct ResultsFileContents {
  // Bytes up to the end of the last whole line; a torn line after it is cut off before writing.
  std::uint64_t WholeSize = 0;
  // The file ends before its header is whole (a crash right after it was created): the run
  // writes the byte-order mark and the header again from the start.
  bool NeedsHeader = false;
  long long Rows = 0;
  // The first field of every row, quotes included, as FormatRow writes it.
  std::unordered_set<std::string> RowKeys;
};

// Why the file cannot be continued (Russian, for the operator).
struct ResultsFileDamage {
  std::string Reason;
};

std::variant<ResultsFileContents, ResultsFileDamage> InspectResultsFile(std::string_view bytes);

// The key InspectResultsFile keeps for a row: its first field.
std::string_view RowKey(std::string_view row);

}  // namespace mirava::output
