#include "analysis/text_encoding.h"

#include <array>
#include <cstdint>
#include <optional>
#include <type_traits>
#include <utility>

#include "platform/system_code_page.h"

namespace mirava::analysis {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool IsContinuation(unsigned char byte) {
  return (byte & 0xC0) == 0x80;
}
bool IsHighSurrogate(char16_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(char16_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

// Length of the sequence a lead byte starts and the range its second byte must lie in; the
// narrowed second-byte ranges are what rule out overlongs, surrogates and values above U+10FFFF.
struct LeadInfo {
  int length;  // 0 when the byte can never start a well-formed sequence
  unsigned char second_low;
  unsigned char second_high;
};

LeadInfo Lead(unsigned char byte) {
  if (byte < 0x80)
    return {1, 0, 0};
  if (byte >= 0xC2 && byte <= 0xDF)
    return {2, 0x80, 0xBF};
  if (byte == 0xE0)
    return {3, 0xA0, 0xBF};
  if (byte == 0xED)
    return {3, 0x80, 0x9F};
  if (byte >= 0xE1 && byte <= 0xEF)
    return {3, 0x80, 0xBF};
  if (byte == 0xF0)
    return {4, 0x90, 0xBF};
  if (byte >= 0xF1 && byte <= 0xF3)
    return {4, 0x80, 0xBF};
  if (byte == 0xF4)
    return {4, 0x80, 0x8F};
  return {0, 0, 0};
}

// Decodes the sequence at bytes[i]. Returns the number of bytes it takes; `code` is the code
// point, or -1 for a maximal malformed subpart (then at least one byte is taken).
std::size_t DecodeOne(std::string_view bytes, std::size_t i, long& code) {
  const auto lead = static_cast<unsigned char>(bytes[i]);
  const LeadInfo info = Lead(lead);
  if (info.length == 1) {
    code = lead;
    return 1;
  }
  code = -1;
  if (info.length == 0)
    return 1;
  long value = lead & (0xFF >> (info.length + 1));
  std::size_t taken = 1;
  for (int k = 1; k < info.length; ++k) {
    if (i + taken >= bytes.size())
      return taken;
    const auto byte = static_cast<unsigned char>(bytes[i + taken]);
    const bool fits =
        k == 1 ? (byte >= info.second_low && byte <= info.second_high) : IsContinuation(byte);
    if (!fits)
      return taken;
    value = (value << 6) | (byte & 0x3F);
    ++taken;
  }
  code = value;
  return taken;
}

void AppendUtf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// Windows-1251 bytes 0x80..0xBF; 0x98 has no character and maps to U+0098 as Windows does, so
// every byte decodes and encodes back to itself.
constexpr std::array<char16_t, 64> kWindows1251High = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
};

char16_t Windows1251Char(unsigned char byte) {
  if (byte < 0x80)
    return byte;
  if (byte >= 0xC0)
    return static_cast<char16_t>(0x0410 + (byte - 0xC0));
  return kWindows1251High[byte - 0x80];
}

// The byte for `unit`, or 0 when Windows-1251 has none (code 0 itself is handled by the caller).
unsigned char Windows1251Byte(char16_t unit) {
  if (unit < 0x80)
    return static_cast<unsigned char>(unit);
  if (unit >= 0x0410 && unit <= 0x044F)
    return static_cast<unsigned char>(0xC0 + (unit - 0x0410));
  for (std::size_t k = 0; k < kWindows1251High.size(); ++k) {
    if (kWindows1251High[k] == unit)
      return static_cast<unsigned char>(0x80 + k);
  }
  return 0;
}

std::u16string Utf16FromBytes(std::string_view bytes, bool big_endian) {
  std::u16string text;
  text.reserve(bytes.size() / 2 + 1);
  std::size_t i = 0;
  for (; i + 1 < bytes.size(); i += 2) {
    const auto first = static_cast<unsigned char>(bytes[i]);
    const auto second = static_cast<unsigned char>(bytes[i + 1]);
    text += static_cast<char16_t>(big_endian ? (first << 8) | second : (second << 8) | first);
  }
  if (i < bytes.size())
    text += kReplacement;  // a cut-off last unit
  return text;
}

template <class Char>
std::vector<std::basic_string<Char>> SplitLinesOf(std::basic_string_view<Char> text) {
  std::vector<std::basic_string<Char>> lines;
  std::size_t begin = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const Char unit = text[i];
    if (unit != Char('\r') && unit != Char('\n'))
      continue;
    lines.emplace_back(text.substr(begin, i - begin));
    if (unit == Char('\r') && i + 1 < text.size() && text[i + 1] == Char('\n'))
      ++i;
    begin = i + 1;
  }
  if (begin < text.size())
    lines.emplace_back(text.substr(begin));
  return lines;
}

template <class Char>
std::basic_string_view<Char> TrimView(std::basic_string_view<Char> text) {
  auto blank = [](Char unit) { return static_cast<std::make_unsigned_t<Char>>(unit) <= 32; };
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && blank(text[begin]))
    ++begin;
  while (end > begin && blank(text[end - 1]))
    --end;
  return text.substr(begin, end - begin);
}

// Yields the bytes of FoldCaseUtf8(text) one at a time without building the string. Every
// letter that folds is a two-byte sequence and folds to one, so the lengths never change.
class FoldedUtf8Reader {
 public:
  explicit FoldedUtf8Reader(std::string_view text) : text_(text) {}

  bool AtEnd() const { return !has_pending_ && index_ >= text_.size(); }

  unsigned char Next() {
    if (has_pending_) {
      has_pending_ = false;
      return pending_;
    }
    const auto byte = static_cast<unsigned char>(text_[index_]);
    if (byte < 0x80) {
      ++index_;
      return static_cast<unsigned char>(FoldCase(byte));
    }
    if (byte >= 0xC2 && byte <= 0xDF && index_ + 1 < text_.size() &&
        IsContinuation(static_cast<unsigned char>(text_[index_ + 1]))) {
      const auto code = static_cast<char16_t>(((byte & 0x1F) << 6) | (text_[index_ + 1] & 0x3F));
      const char16_t folded = FoldCase(code);
      index_ += 2;
      pending_ = static_cast<unsigned char>(0x80 | (folded & 0x3F));
      has_pending_ = true;
      return static_cast<unsigned char>(0xC0 | (folded >> 6));
    }
    ++index_;
    return byte;
  }

 private:
  std::string_view text_;
  std::size_t index_ = 0;
  unsigned char pending_ = 0;
  bool has_pending_ = false;
};

}  // namespace

std::u16string Utf8ToUtf16(std::string_view bytes) {
  std::u16string text;
  text.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    if (byte < 0x80) {
      text += static_cast<char16_t>(byte);
      ++i;
      continue;
    }
    long code = 0;
    i += DecodeOne(bytes, i, code);
    if (code < 0) {
      text += kReplacement;
    } else if (code < 0x10000) {
      text += static_cast<char16_t>(code);
    } else {
      code -= 0x10000;
      text += static_cast<char16_t>(0xD800 + (code >> 10));
      text += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
    }
  }
  return text;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string bytes;
  bytes.reserve(text.size() * 3 / 2 + 1);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (IsHighSurrogate(unit) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      AppendUtf8(bytes, 0x10000 + ((char32_t(unit) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
      AppendUtf8(bytes, kReplacement);
    } else {
      AppendUtf8(bytes, unit);
    }
  }
  return bytes;
}

bool IsWellFormedUtf8(std::string_view bytes) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    if (static_cast<unsigned char>(bytes[i]) < 0x80) {
      ++i;
      continue;
    }
    long code = 0;
    i += DecodeOne(bytes, i, code);
    if (code < 0)
      return false;
  }
  return true;
}

Utf8Sequence MeasureUtf8Sequence(std::string_view bytes, std::size_t at) {
  long code = 0;
  const std::size_t length = DecodeOne(bytes, at, code);
  return {length, code >= 0};
}

std::u16string Windows1251ToUtf16(std::string_view bytes) {
  std::u16string text;
  text.reserve(bytes.size());
  for (const char byte : bytes)
    text += Windows1251Char(static_cast<unsigned char>(byte));
  return text;
}

std::string Utf16ToWindows1251(std::u16string_view text) {
  std::string bytes;
  bytes.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    const unsigned char byte = Windows1251Byte(unit);
    if (byte != 0 || unit == 0) {
      bytes += static_cast<char>(byte);
      continue;
    }
    // A surrogate pair is one character and gets one "?".
    if (IsHighSurrogate(unit) && i + 1 < text.size() && IsLowSurrogate(text[i + 1]))
      ++i;
    bytes += '?';
  }
  return bytes;
}

std::vector<std::u16string> ReadTextLines(std::string_view file_bytes) {
  std::u16string text;
  if (file_bytes.starts_with(kUtf8ByteOrderMark)) {
    text = Utf8ToUtf16(file_bytes.substr(kUtf8ByteOrderMark.size()));
  } else if (file_bytes.starts_with("\xFF\xFE")) {
    text = Utf16FromBytes(file_bytes.substr(2), false);
  } else if (file_bytes.starts_with("\xFE\xFF")) {
    text = Utf16FromBytes(file_bytes.substr(2), true);
  } else {
    text = DecodeSystemCodePage(file_bytes);
  }
  return SplitLines(std::u16string_view(text));
}

std::vector<std::u16string> SplitLines(std::u16string_view text) {
  return SplitLinesOf(text);
}
std::vector<std::string> SplitLines(std::string_view text) {
  return SplitLinesOf(text);
}

std::u16string Trim(std::u16string_view text) {
  return std::u16string(TrimView(text));
}
std::string_view Trim(std::string_view text) {
  return TrimView(text);
}

char16_t FoldCase(char16_t unit) {
  if (unit < 0x80) {
    return unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit + 0x20) : unit;
  }
  if (unit >= 0x00C0 && unit <= 0x00DE && unit != 0x00D7)
    return unit + 0x20;
  if (unit >= 0x0400 && unit <= 0x040F)
    return unit + 0x50;  // Ѐ..Џ, with Ё, Є, І, Ї, Ў
  if (unit >= 0x0410 && unit <= 0x042F)
    return unit + 0x20;  // А..Я
  if (unit == 0x0490)
    return 0x0491;  // Ґ
  if (unit >= 0x0391 && unit <= 0x03AB && unit != 0x03A2)
    return unit + 0x20;  // Α..Ϋ
  if (unit == 0x0386)
    return 0x03AC;
  if (unit >= 0x0388 && unit <= 0x038A)
    return unit + 0x25;
  if (unit == 0x038C)
    return 0x03CC;
  if (unit == 0x038E || unit == 0x038F)
    return unit + 0x3F;
  return unit;
}

std::u16string FoldCase(std::u16string_view text) {
  std::u16string folded(text);
  for (char16_t& unit : folded)
    unit = FoldCase(unit);
  return folded;
}

std::string FoldCaseUtf8(std::string_view text) {
  std::string folded;
  folded.reserve(text.size());
  FoldedUtf8Reader reader(text);
  while (!reader.AtEnd())
    folded += static_cast<char>(reader.Next());
  return folded;
}

bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size())
    return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i] && FoldCase(a[i]) != FoldCase(b[i]))
      return false;
  }
  return true;
}

bool EqualsIgnoreCaseUtf8(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;  // folding keeps byte lengths
  FoldedUtf8Reader left(a);
  FoldedUtf8Reader right(b);
  while (!left.AtEnd()) {
    if (left.Next() != right.Next())
      return false;
  }
  return true;
}

std::size_t CaseInsensitiveHash::operator()(std::string_view key) const {
  // FNV-1a over the folded bytes, so keys equal up to case hash alike.
  std::uint64_t hash = 14695981039346656037ull;
  FoldedUtf8Reader reader(key);
  while (!reader.AtEnd()) {
    hash ^= reader.Next();
    hash *= 1099511628211ull;
  }
  return static_cast<std::size_t>(hash);
}

// Windows reads well-formed UTF-8 as such and other bytes in its ANSI code page; elsewhere those
// are taken for Windows-1251, the directory's own encoding.
std::u16string DecodeSystemCodePage(std::string_view bytes) {
  if (bytes.empty() || IsWellFormedUtf8(bytes)) {
    return Utf8ToUtf16(bytes);
  }
  if (std::optional<std::u16string> text = platform::DecodeAnsiCodePage(bytes)) {
    return std::move(*text);
  }
  return Windows1251ToUtf16(bytes);
}

std::string EncodeSystemCodePage(std::u16string_view text) {
  if (std::optional<std::string> bytes = platform::EncodeAnsiCodePage(text)) {
    return std::move(*bytes);
  }
  return Utf16ToUtf8(text);
}

}  // namespace mirava::analysis
