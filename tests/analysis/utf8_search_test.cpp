// The page readers search the raw UTF-8 bytes of a page and decode only what they cut out. These
// tests compare that with searching the decoded text on many generated pages, malformed bytes
// included, to show that both give the same pieces and the same places.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>

#include "analysis/text_encoding.h"
#include "analysis/text_toolkit.h"

namespace mirava::analysis {
namespace {

using namespace std::string_view_literals;

// Valid UTF-8 markers, as the readers use: ASCII, Cyrillic, and two-, three- and four-byte
// characters whose bytes also appear in the broken sequences below.
constexpr std::string_view kMarkers[] = {
    "<a>", "</a>", "\"", ">", "<", "aa", "a", "Тел:", "ё", "»", "€", "😀", "<div class=\"x\">",
};

constexpr std::string_view kPieces[] = {
    // Text.
    "x",
    " ",
    "a",
    "Москва",
    "кафе",
    "\t",
    "\r\n",
    // Malformed: cut-off sequences (some are prefixes of the markers), overlong "<" and "a",
    // an encoded surrogate, lone continuation bytes, bytes that never start a sequence.
    "\xD0",
    "\xD1",
    "\xE2\x82",
    "\xE2",
    "\xF0\x9F\x98",
    "\xF0\x9F",
    "\xC0\xBC",
    "\xE0\x80\xBC",
    "\xC1\xA1",
    "\xED\xA0\x80",
    "\x80",
    "\xAC",
    "\xBB",
    "\x91",
    "\xFF",
    "\xF5",
    // A code 0, which ends the text for LastPosBefore.
    "\0"sv,
};

class TPageGenerator {
 public:
  explicit TPageGenerator(unsigned seed) : random_(seed) {}

  std::string Page() {
    std::string page;
    const int count = Below(40);
    for (int k = 0; k < count; ++k) {
      switch (Below(4)) {
        case 0:
          page += Marker();
          break;
        case 1: {
          // A random byte, often in the range of lead and continuation bytes.
          page += static_cast<char>(Below(2) == 0 ? 0x80 + Below(0x80) : Below(0x100));
          break;
        }
        default:
          page += kPieces[Below(std::size(kPieces))];
      }
    }
    return page;
  }

  std::string_view Marker() { return kMarkers[Below(std::size(kMarkers))]; }
  std::string_view MarkerOrEmpty() { return Below(5) == 0 ? std::string_view() : Marker(); }

 private:
  int Below(std::size_t bound) { return static_cast<int>(random_() % bound); }
  std::mt19937 random_;
};

// Position in the decoded text of a byte position that starts a character of a marker.
std::size_t UnitPos(std::string_view page, std::size_t byte_pos) {
  if (byte_pos == 0)
    return 0;
  return Utf8ToUtf16(page.substr(0, byte_pos - 1)).size() + 1;
}

std::string Printable(std::string_view bytes) {
  std::string shown;
  for (const char byte : bytes) {
    const auto value = static_cast<unsigned char>(byte);
    if (value >= 0x20 && value < 0x7F) {
      shown += byte;
    } else {
      static constexpr char kHex[] = "0123456789ABCDEF";
      shown += "\\x";
      shown += kHex[value >> 4];
      shown += kHex[value & 15];
    }
  }
  return shown;
}

constexpr int kPages = 20000;

TEST(Utf8SearchTest, ExtractBetweenOnBytesDecodesToExtractOnText) {
  TPageGenerator generator(12345);
  for (int round = 0; round < kPages; ++round) {
    const std::string page = generator.Page();
    const std::string_view start = generator.MarkerOrEmpty();
    const std::string_view middle = generator.MarkerOrEmpty();
    const std::string_view end = generator.MarkerOrEmpty();
    const std::u16string from_bytes = Utf8ToUtf16(ExtractBetween(page, start, middle, end));
    const std::u16string from_text = ExtractBetween(Utf8ToUtf16(page), Utf8ToUtf16(start),
                                                    Utf8ToUtf16(middle), Utf8ToUtf16(end));
    ASSERT_EQ(from_bytes, from_text)
        << Printable(page) << " | " << start << " | " << middle << " | " << end;
  }
}

TEST(Utf8SearchTest, PositionsOnBytesMapToPositionsOnText) {
  TPageGenerator generator(54321);
  for (int round = 0; round < kPages; ++round) {
    const std::string page = generator.Page();
    const std::u16string text = Utf8ToUtf16(page);
    const std::string_view first = generator.Marker();
    const std::string_view second = generator.Marker();
    const std::u16string first16 = Utf8ToUtf16(first);
    const std::u16string second16 = Utf8ToUtf16(second);
    SCOPED_TRACE(Printable(page) + " | " + std::string(first) + " | " + std::string(second));

    const std::size_t p = Pos(first, page);
    const std::size_t p16 = Pos(first16, text);
    ASSERT_EQ(UnitPos(page, p), p16);

    // The whole text, as a reader does before it has found anything.
    const long long whole = static_cast<long long>(page.size());
    ASSERT_EQ(UnitPos(page, LastPosBefore(second, page, whole)),
              LastPosBefore(second16, text, static_cast<long long>(text.size())));
    if (p == 0)
      continue;

    // Searching on from right after a found marker, as ExtractBetween does.
    const std::size_t from = p + first.size();
    const std::size_t from16 = p16 + first16.size();
    ASSERT_EQ(UnitPos(page, Pos(second, page, from)), Pos(second16, text, from16));

    // Looking back from a found marker: up to just before it, up to its first character (when
    // that is one byte, as with the readers' markers, so that both limits end on a character)
    // and up to its end.
    ASSERT_EQ(UnitPos(page, LastPosBefore(second, page, p - 1)),
              LastPosBefore(second16, text, static_cast<long long>(p16 - 1)));
    if (static_cast<unsigned char>(first[0]) < 0x80) {
      ASSERT_EQ(UnitPos(page, LastPosBefore(second, page, p)),
                LastPosBefore(second16, text, static_cast<long long>(p16)));
    }
    ASSERT_EQ(UnitPos(page, LastPosBefore(second, page, from - 1)),
              LastPosBefore(second16, text, static_cast<long long>(from16 - 1)));
  }
}

}  // namespace
}  // namespace mirava::analysis
