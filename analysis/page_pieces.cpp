#include "analysis/page_pieces.h"

#include <algorithm>

#include "analysis/text_encoding.h"
#include "analysis/text_toolkit.h"

namespace mirava::analysis {

std::string NormalizedUtf8(std::string_view piece) {
  const bool ascii = std::all_of(piece.begin(), piece.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (ascii) {
    return std::string(piece);
  }
  return Utf16ToUtf8(Utf8ToUtf16(piece));
}

std::u16string CleanPiece(std::string_view piece) {
  return Trim(HtmlToText(Utf8ToUtf16(piece)));
}

std::string_view CutBefore(std::string_view text, char stop) {
  return text.substr(0, text.find(stop));
}

std::u16string_view CutBefore(std::u16string_view text, char16_t stop) {
  return text.substr(0, text.find(stop));
}

std::size_t ForwardSearch::From(std::size_t from) {
  if (searched_ && (found_ == std::string_view::npos || from <= found_)) {
    return found_;
  }
  searched_ = true;
  const std::size_t position = from < text_.size() ? Pos(needle_, text_, from + 1) : 0;
  found_ = position == 0 ? std::string_view::npos : position - 1;
  return found_;
}

}  // namespace mirava::analysis
