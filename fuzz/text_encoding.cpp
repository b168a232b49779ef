// The encodings against plain reference versions: a UTF-8 decoder written from the standard's
// table of well-formed sequences (one U+FFFD for each maximal ill-formed subpart), an encoder,
// Windows-1251 both ways, line splitting and case folding kept consistent between UTF-8 and
// UTF-16.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/text_encoding.h"
#include "fuzz/fuzz_check.h"

namespace {

using namespace mirava::analysis;

// The standard's table: the allowed range of the second byte depends on the first.
bool SecondByteRange(unsigned lead, unsigned& low, unsigned& high, int& length) {
  low = 0x80;
  high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead == 0xE0) {
    length = 3, low = 0xA0;
  } else if (lead == 0xED) {
    length = 3, high = 0x9F;
  } else if (lead >= 0xE1 && lead <= 0xEF) {
    length = 3;
  } else if (lead == 0xF0) {
    length = 4, low = 0x90;
  } else if (lead == 0xF4) {
    length = 4, high = 0x8F;
  } else if (lead >= 0xF1 && lead <= 0xF3) {
    length = 4;
  } else {
    return false;
  }
  return true;
}

void AppendCodePoint(std::u16string& text, std::uint32_t code) {
  if (code < 0x10000) {
    text += static_cast<char16_t>(code);
  } else {
    code -= 0x10000;
    text += static_cast<char16_t>(0xD800 + (code >> 10));
    text += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
  }
}

std::u16string RefUtf8ToUtf16(std::string_view bytes, bool& well_formed) {
  well_formed = true;
  std::u16string text;
  std::size_t i = 0;
  while (i < bytes.size()) {
    const unsigned lead = static_cast<unsigned char>(bytes[i]);
    if (lead < 0x80) {
      text += static_cast<char16_t>(lead);
      ++i;
      continue;
    }
    unsigned low, high;
    int length = 0;
    if (!SecondByteRange(lead, low, high, length)) {
      text += u'\xFFFD';
      well_formed = false;
      ++i;
      continue;
    }
    std::uint32_t code = lead & (0xFF >> (length + 1));
    int taken = 1;
    for (; taken < length && i + taken < bytes.size(); ++taken) {
      const unsigned next = static_cast<unsigned char>(bytes[i + taken]);
      const bool allowed = taken == 1 ? next >= low && next <= high : next >= 0x80 && next <= 0xBF;
      if (!allowed) {
        break;
      }
      code = code << 6 | (next & 0x3F);
    }
    if (taken == length) {
      AppendCodePoint(text, code);
    } else {
      text += u'\xFFFD';  // the maximal subpart: the lead and the continuation bytes it allowed
      well_formed = false;
    }
    i += taken;
  }
  return text;
}

std::string RefUtf16ToUtf8(std::u16string_view text) {
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t code = text[i];
    if (code >= 0xD800 && code <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (code >= 0xD800 && code <= 0xDFFF) {
      code = 0xFFFD;
    }
    if (code < 0x80) {
      bytes += static_cast<char>(code);
    } else if (code < 0x800) {
      bytes += static_cast<char>(0xC0 | code >> 6);
      bytes += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      bytes += static_cast<char>(0xE0 | code >> 12);
      bytes += static_cast<char>(0x80 | (code >> 6 & 0x3F));
      bytes += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      bytes += static_cast<char>(0xF0 | code >> 18);
      bytes += static_cast<char>(0x80 | (code >> 12 & 0x3F));
      bytes += static_cast<char>(0x80 | (code >> 6 & 0x3F));
      bytes += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return bytes;
}

std::vector<std::u16string> RefSplitLines(std::u16string_view text) {
  std::vector<std::u16string> lines;
  std::u16string line;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'\r' || text[i] == u'\n') {
      if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
        ++i;
      }
      lines.push_back(line);
      line.clear();
    } else {
      line += text[i];
    }
  }
  if (!line.empty()) {
    lines.push_back(line);
  }
  return lines;
}

std::u16string FromUtf16Le(std::string_view bytes) {
  std::u16string text;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                  static_cast<unsigned char>(bytes[i + 1]) << 8);
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  bool well_formed = false;
  const std::u16string decoded = Utf8ToUtf16(bytes);
  FUZZ_CHECK(decoded == RefUtf8ToUtf16(bytes, well_formed));
  FUZZ_CHECK(IsWellFormedUtf8(bytes) == well_formed);
  const std::string encoded = Utf16ToUtf8(decoded);
  FUZZ_CHECK(IsWellFormedUtf8(encoded));
  if (well_formed) {
    FUZZ_CHECK(encoded == std::string(bytes));
  }

  const std::u16string units = FromUtf16Le(bytes);
  const std::string units_encoded = Utf16ToUtf8(units);
  FUZZ_CHECK(units_encoded == RefUtf16ToUtf8(units));
  FUZZ_CHECK(IsWellFormedUtf8(units_encoded));

  // Windows-1251 has a character for every byte, and each comes back as its byte.
  const std::u16string cyrillic = Windows1251ToUtf16(bytes);
  FUZZ_CHECK(cyrillic.size() == bytes.size());
  FUZZ_CHECK(Utf16ToWindows1251(cyrillic) == std::string(bytes));
  // One byte a character: a surrogate pair is one character.
  std::size_t characters = units.size();
  for (std::size_t i = 0; i + 1 < units.size(); ++i) {
    if (units[i] >= 0xD800 && units[i] <= 0xDBFF && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      --characters;
      ++i;
    }
  }
  FUZZ_CHECK(Utf16ToWindows1251(units).size() == characters);

  // Line splitting: no line holds a line break, and the decoded file gives the same lines.
  const std::vector<std::u16string> lines = SplitLines(decoded);
  FUZZ_CHECK(lines == RefSplitLines(decoded));
  if (size < 3 || bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF" ||
      bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    // a byte-order mark chooses the decoding; covered by the reference split below
  } else if (well_formed) {
    FUZZ_CHECK(ReadTextLines(bytes) == lines);
  }
  for (const std::u16string& line : ReadTextLines(bytes)) {
    FUZZ_CHECK(line.find_first_of(u"\r\n") == std::u16string::npos);
  }

  // Case folding: the UTF-8 version agrees with the UTF-16 one, keeps the length, and folding
  // twice changes nothing; equal keys hash alike.
  const std::u16string folded = FoldCase(decoded);
  FUZZ_CHECK(FoldCase(folded) == folded);
  const std::string folded_utf8 = FoldCaseUtf8(bytes);
  FUZZ_CHECK(folded_utf8.size() == bytes.size());
  if (well_formed) {
    FUZZ_CHECK(folded_utf8 == Utf16ToUtf8(folded));
  }
  const std::size_t half = size / 2;
  const std::string_view left = bytes.substr(0, half);
  const std::string_view right = bytes.substr(half, half);
  const bool equal = EqualsIgnoreCaseUtf8(left, right);
  FUZZ_CHECK(EqualsIgnoreCaseUtf8(left, FoldCaseUtf8(left)));
  FUZZ_CHECK(CaseInsensitiveHash()(left) == CaseInsensitiveHash()(FoldCaseUtf8(left)));
  if (IsWellFormedUtf8(left) && IsWellFormedUtf8(right)) {
    FUZZ_CHECK(equal == (FoldCase(Utf8ToUtf16(left)) == FoldCase(Utf8ToUtf16(right))));
    FUZZ_CHECK(EqualsIgnoreCase(Utf8ToUtf16(left), Utf8ToUtf16(right)) == equal);
  }
  if (equal) {
    FUZZ_CHECK(CaseInsensitiveHash()(left) == CaseInsensitiveHash()(right));
  }
  return 0;
}
