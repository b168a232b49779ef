#pragma once
// Helpers the page readers share: pieces cut out of a page's UTF-8 bytes are decoded on their own
// and worked on as UTF-16 text, and searches whose start only moves forward reuse what they found.
#include <cstddef>
#include <string>
#include <string_view>

namespace mirava::analysis {

// The piece as the decoded page shows it, re-encoded: malformed bytes become U+FFFD.
std::string NormalizedUtf8(std::string_view piece);

// HtmlToText of the decoded piece, trimmed.
std::u16string CleanPiece(std::string_view piece);

// Everything before the first `stop`, or the whole text when it has none.
std::string_view CutBefore(std::string_view text, char stop);
std::u16string_view CutBefore(std::u16string_view text, char16_t stop);

// First occurrences of one needle for search starts that never move back. A result found once
// answers every later start up to it, so a walk over many cards scans each byte about once.
class ForwardSearch {
 public:
  ForwardSearch(std::string_view text, std::string_view needle) : text_(text), needle_(needle) {}

  // 0-based offset of the first occurrence starting at `from` or later; npos when none.
  // `from` must not be below the previous call's.
  std::size_t From(std::size_t from);

 private:
  std::string_view text_;
  std::string_view needle_;
  bool searched_ = false;
  std::size_t found_ = std::string_view::npos;
};

}  // namespace mirava::analysis
