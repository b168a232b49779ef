#include "analysis/text_encoding.h"

namespace mirava::analysis {

std::u16string DecodeSystemCodePage(std::string_view bytes) {
  return IsWellFormedUtf8(bytes) ? Utf8ToUtf16(bytes) : Windows1251ToUtf16(bytes);
}

std::string EncodeSystemCodePage(std::u16string_view text) {
  return Utf16ToUtf8(text);
}

}  // namespace mirava::analysis
