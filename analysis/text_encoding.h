#pragma once
// Conversions between the encodings the program meets: UTF-8 pages and files, UTF-16 text,
// Windows-1251 files from Russian Windows machines; plus trimming and case folding.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace mirava::analysis {

// Each maximal malformed subsequence becomes one U+FFFD (the standard replacement rule).
std::u16string Utf8ToUtf16(std::string_view bytes);
// A lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
// Rejects overlong forms, surrogates and code points above U+10FFFF.
bool IsWellFormedUtf8(std::string_view bytes);

// The UTF-8 sequence that starts at bytes[at] (at < bytes.size()): how many bytes it takes and
// whether it is well-formed. A malformed one takes its maximal ill-formed part (at least one
// byte), which the standard replacement rule turns into one U+FFFD.
struct Utf8Sequence {
  std::size_t Length;
  bool WellFormed;
};
Utf8Sequence MeasureUtf8Sequence(std::string_view bytes, std::size_t at);

// The byte-order mark that starts the UTF-8 files the program writes and reads.
inline constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

// The value of one hexadecimal digit (0-9, a-f, A-F), or -1 for any other character.
constexpr int HexDigitValue(char32_t c) {
  if (c >= U'0' && c <= U'9')
    return static_cast<int>(c - U'0');
  if (c >= U'a' && c <= U'f')
    return static_cast<int>(c - U'a' + 10);
  if (c >= U'A' && c <= U'F')
    return static_cast<int>(c - U'A' + 10);
  return -1;
}

std::u16string Windows1251ToUtf16(std::string_view bytes);
// A character that Windows-1251 cannot represent becomes "?".
std::string Utf16ToWindows1251(std::u16string_view text);

// The system code page of this build: UTF-8 when writing; when reading bytes without a
// byte-order mark, UTF-8 if they are well-formed, otherwise Windows-1251. The Windows build
// writes the ANSI code page (GetACP) and reads well-formed UTF-8 as such, other bytes in it.
std::u16string DecodeSystemCodePage(std::string_view bytes);
std::string EncodeSystemCodePage(std::u16string_view text);

// A whole text file: a byte-order mark selects UTF-8, UTF-16 LE or UTF-16 BE and is dropped,
// otherwise the system code page. Lines end at CR LF, lone LF or lone CR; a final line break
// adds no empty line.
std::vector<std::u16string> ReadTextLines(std::string_view file_bytes);
// Line splitting alone, for text that is already decoded.
std::vector<std::u16string> SplitLines(std::u16string_view text);
std::vector<std::string> SplitLines(std::string_view text);

// Leading and trailing characters with codes up to 32 removed.
std::u16string Trim(std::u16string_view text);
std::string_view Trim(std::string_view text);

// Simple lower-case folding of Latin (ASCII and Latin-1), Cyrillic (including Ё and the
// Ukrainian and Belarusian letters) and Greek capitals; everything else unchanged.
char16_t FoldCase(char16_t unit);
std::u16string FoldCase(std::u16string_view text);
// UTF-8 in, UTF-8 out; malformed bytes are kept as they are.
std::string FoldCaseUtf8(std::string_view text);
bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b);
bool EqualsIgnoreCaseUtf8(std::string_view a, std::string_view b);

// Hash and equality of UTF-8 keys with letter case ignored, for unordered containers.
struct CaseInsensitiveHash {
  std::size_t operator()(std::string_view key) const;
};
struct CaseInsensitiveEqual {
  bool operator()(std::string_view a, std::string_view b) const {
    return EqualsIgnoreCaseUtf8(a, b);
  }
};

}  // namespace mirava::analysis
