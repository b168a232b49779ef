#include "analysis/text_encoding.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <unordered_map>
#include <vector>

namespace mirava::analysis {
namespace {

using namespace std::string_view_literals;

std::string Show(std::u16string_view text) {
  return Utf16ToUtf8(text);
}

std::vector<std::string> Show(const std::vector<std::u16string>& lines) {
  std::vector<std::string> shown;
  for (const auto& line : lines)
    shown.push_back(Show(line));
  return shown;
}

struct TDecodeCase {
  const char* name;
  std::string_view bytes;
  std::u16string_view expected;
};

TEST(Utf8ToUtf16Test, ReplacesEachMaximalMalformedSubpartOnce) {
  const TDecodeCase cases[] = {
      {"ASCII and Cyrillic", "a Ёж", u"a \u0401\u0436"},
      {"astral becomes a pair", "\xF0\x9F\x98\x80", u"\U0001F600"},
      {"mixed malformed run",  // the standard example of maximal subparts
       "\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
       u"a\uFFFD\uFFFD\uFFFDb\uFFFDc\uFFFD\uFFFDd"},
      {"overlong two-byte", "\xC0\xAF", u"\uFFFD\uFFFD"},
      {"overlong three-byte", "\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},
      {"encoded surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
      {"above U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"F5 and above", "\xF5\xFF", u"\uFFFD\uFFFD"},
      {"truncated at the end", "ok\xE2\x82", u"ok\uFFFD"},
      {"truncated before ASCII", "\xE2\x82<", u"\uFFFD<"},
      {"truncated before a lead byte", "\xD0\xD0\x90", u"\uFFFD\u0410"},
      {"lone continuation", "\x80", u"\uFFFD"},
      {"code 0 kept", "a\0b"sv, u"a\0b"sv},
      {"highest code point", "\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Utf8ToUtf16(c.bytes), c.expected) << c.name;
    EXPECT_EQ(IsWellFormedUtf8(c.bytes), c.expected.find(u'\uFFFD') == std::u16string::npos)
        << c.name;
    // Sequence by sequence: the malformed ones are the replacements, and they tile the bytes.
    std::size_t at = 0;
    std::size_t malformed = 0;
    while (at < c.bytes.size()) {
      const Utf8Sequence sequence = MeasureUtf8Sequence(c.bytes, at);
      ASSERT_GE(sequence.Length, 1u) << c.name;
      malformed += sequence.WellFormed ? 0 : 1;
      at += sequence.Length;
    }
    EXPECT_EQ(at, c.bytes.size()) << c.name;
    EXPECT_EQ(malformed,
              static_cast<std::size_t>(std::count(c.expected.begin(), c.expected.end(), u'\uFFFD')))
        << c.name;
  }
}

TEST(HexDigitValueTest, ReadsBothLetterCasesAndNothingElse) {
  EXPECT_EQ(HexDigitValue(U'0'), 0);
  EXPECT_EQ(HexDigitValue(U'9'), 9);
  EXPECT_EQ(HexDigitValue(U'a'), 10);
  EXPECT_EQ(HexDigitValue(U'F'), 15);
  for (const char32_t other : {U'/', U':', U'@', U'G', U'`', U'g', U' ', U'\0', U'\uFF10',
                               static_cast<char32_t>(0xFF30)}) {
    EXPECT_EQ(HexDigitValue(other), -1) << static_cast<unsigned long>(other);
  }
}

TEST(Utf16ToUtf8Test, EncodesPairsAndReplacesLoneSurrogates) {
  EXPECT_EQ(Utf16ToUtf8(u"a\u0416\u20AC\U0001F600"), "a\xD0\x96\xE2\x82\xAC\xF0\x9F\x98\x80");
  EXPECT_EQ(Utf16ToUtf8(u"\xD83D"), "\xEF\xBF\xBD");
  EXPECT_EQ(Utf16ToUtf8(u"\xDE00x"), "\xEF\xBF\xBDx");
  EXPECT_EQ(Utf16ToUtf8(u"\xD83D\xD83D\xDE00"), "\xEF\xBF\xBD\xF0\x9F\x98\x80");
}

TEST(Utf16ToUtf8Test, RoundTripsEveryCodePoint) {
  std::u16string all;
  for (char32_t code = 1; code <= 0x10FFFF; code += code < 0x10000 ? 1 : 97) {
    if (code >= 0xD800 && code <= 0xDFFF)
      continue;
    if (code < 0x10000) {
      all += static_cast<char16_t>(code);
    } else {
      all += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
      all += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
    }
  }
  const std::string bytes = Utf16ToUtf8(all);
  EXPECT_TRUE(IsWellFormedUtf8(bytes));
  EXPECT_EQ(Utf8ToUtf16(bytes), all);
}

TEST(Windows1251Test, MapsEveryByteBothWays) {
  std::string every_byte;
  for (int byte = 0; byte < 256; ++byte)
    every_byte += static_cast<char>(byte);
  const std::u16string text = Windows1251ToUtf16(every_byte);
  ASSERT_EQ(text.size(), 256u);
  EXPECT_EQ(Utf16ToWindows1251(text), every_byte);
  EXPECT_EQ(text.substr(0xC0, 2), u"АБ");
  EXPECT_EQ(text.substr(0xFE, 2), u"юя");
  EXPECT_EQ(text[0xA8], u'Ё');
  EXPECT_EQ(text[0xB8], u'ё');
  EXPECT_EQ(text[0xB9], u'№');
  EXPECT_EQ(text[0x88], u'€');
  EXPECT_EQ(text[0xA5], u'Ґ');
  EXPECT_EQ(text[0x96], u'–');
}

TEST(Windows1251Test, UnrepresentableCharacterBecomesOneQuestionMark) {
  EXPECT_EQ(Utf16ToWindows1251(u"Я日\U0001F600!"),
            "\xDF?"
            "?!");
  EXPECT_EQ(Utf16ToWindows1251(u"\xD83D"), "?");
}

TEST(SystemCodePageTest, ReadsUtf8WhenWellFormedElseWindows1251) {
  EXPECT_EQ(DecodeSystemCodePage("Привет"), u"Привет");
  EXPECT_EQ(DecodeSystemCodePage("\xCF\xF0\xE8\xE2\xE5\xF2"), u"Привет");
  // Writing takes the system's code page: Windows-1251 on a Russian Windows, where the Windows
  // tests run.
#ifdef _WIN32
  EXPECT_EQ(EncodeSystemCodePage(u"Привет"), "\xCF\xF0\xE8\xE2\xE5\xF2");
#else
  EXPECT_EQ(EncodeSystemCodePage(u"Привет"), "Привет");
#endif
}

struct TLinesCase {
  const char* name;
  std::string_view file;
  std::vector<std::string> expected;
};

TEST(ReadTextLinesTest, DecodesAndSplitsWholeFile) {
  const TLinesCase cases[] = {
      {"empty file", "", {}},
      {"one line without break", "a", {"a"}},
      {"final break adds no line", "a\r\n", {"a"}},
      {"CR LF, lone LF, lone CR", "a\r\nb\nc\rd", {"a", "b", "c", "d"}},
      {"empty line in the middle", "a\n\nb\n", {"a", "", "b"}},
      {"LF CR is two breaks", "a\n\rb", {"a", "", "b"}},
      {"only a break", "\r\n", {""}},
      {"UTF-8 BOM dropped", "\xEF\xBB\xBFМосква=x\r\n", {"Москва=x"}},
      {"BOM only", "\xEF\xBB\xBF", {}},
      {"UTF-16 LE", "\xFF\xFE\x1C\x04\x3E\x04\r\0\n\0x\0"sv, {"Мо", "x"}},
      {"UTF-16 BE", "\xFE\xFF\x04\x1C\x04\x3E\0\n"sv, {"Мо"}},
      {"UTF-16 with odd last byte", "\xFF\xFE\x41\0\x42"sv, {"A\xEF\xBF\xBD"}},
      {"UTF-8 without BOM", "Москва\r\nТверь", {"Москва", "Тверь"}},
      {"Windows-1251 without BOM", "\xCC\xEE\xF1\xEA\xE2\xE0\r\n", {"Москва"}},
      {"TAB and blanks kept", " a\t \n", {" a\t "}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Show(ReadTextLines(c.file)), c.expected) << c.name;
  }
}

TEST(SplitLinesTest, BytesFollowTheSameRule) {
  EXPECT_EQ(SplitLines("a\r\n\r\nb\rc\n"sv), (std::vector<std::string>{"a", "", "b", "c"}));
  EXPECT_TRUE(SplitLines(""sv).empty());
}

TEST(TrimTest, RemovesCodesUpTo32Only) {
  EXPECT_EQ(Trim(u" \t\r\n\x01 a b \x1F\x7F "), u"a b \x1F\x7F");
  EXPECT_EQ(Trim(u"\u00A0a\u00A0"), u"\u00A0a\u00A0");
  EXPECT_EQ(Trim(u"  \t "), u"");
  EXPECT_EQ(Trim(" \x01x y\r\n"sv), "x y");
  EXPECT_EQ(Trim("\xC2\xA0x"sv), "\xC2\xA0x");  // UTF-8 lead bytes are not blanks
}

TEST(FoldCaseTest, FoldsLatinCyrillicAndGreekCapitals) {
  struct TFoldCase {
    char16_t unit;
    char16_t expected;
  };
  const TFoldCase cases[] = {
      {u'A', u'a'}, {u'Z', u'z'}, {u'@', u'@'},     {u'[', u'['}, {u'a', u'a'},     {u'À', u'à'},
      {u'Þ', u'þ'}, {u'×', u'×'}, {u'ß', u'ß'},     {u'Ё', u'ё'}, {u'Ѐ', u'ѐ'},     {u'Џ', u'џ'},
      {u'Є', u'є'}, {u'І', u'і'}, {u'Ї', u'ї'},     {u'Ў', u'ў'}, {u'Ґ', u'ґ'},     {u'А', u'а'},
      {u'Я', u'я'}, {u'а', u'а'}, {u'ё', u'ё'},     {u'Α', u'α'}, {u'Ω', u'ω'},     {u'Ά', u'ά'},
      {u'Ώ', u'ώ'}, {u'Ϊ', u'ϊ'}, {0x03A2, 0x03A2}, {u'Ѡ', u'Ѡ'}, {0xD800, 0xD800},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(static_cast<int>(FoldCase(c.unit)), static_cast<int>(c.expected))
        << "U+" << std::hex << static_cast<int>(c.unit);
  }
  EXPECT_EQ(FoldCase(u"Москва, ЁЛКИ"), u"москва, ёлки");
}

TEST(FoldCaseUtf8Test, FoldsLettersAndKeepsMalformedBytes) {
  EXPECT_EQ(FoldCaseUtf8("https://Mirava.RU/Москва/ÀΩ"), "https://mirava.ru/москва/àω");
  EXPECT_EQ(FoldCaseUtf8("\xD0"), "\xD0");  // cut-off lead byte
  EXPECT_EQ(FoldCaseUtf8("\xD0"
                         "A"),
            "\xD0"
            "a");                                   // lead byte before ASCII
  EXPECT_EQ(FoldCaseUtf8("\xC0\x81"), "\xC0\x81");  // overlong "A" is not a letter
  EXPECT_EQ(FoldCaseUtf8("\xE2\x82\xAC\xF0\x9F\x98\x80"), "\xE2\x82\xAC\xF0\x9F\x98\x80");
  EXPECT_EQ(FoldCaseUtf8("\xE0\xD0\x90"), "\xE0\xD0\xB0");  // broken sequence, then "А"
}

struct TEqualsCase {
  const char* name;
  std::string_view a, b;
  bool equal;
};

TEST(EqualsIgnoreCaseTest, AgreesWithFoldingAndHash) {
  const TEqualsCase cases[] = {
      {"ASCII", "Mirava.RU", "mirava.ru", true},
      {"Cyrillic with Yo", "ЁЛКИ-Палки", "ёлки-палки", true},
      {"different letters", "Москва", "Moscow", false},
      {"prefix only", "abc", "ab", false},
      {"Ye and Yo differ", "Е", "Ё", false},
      {"malformed bytes equal", "\xD0x", "\xD0X", true},
      {"malformed vs letter", "\xD0\x90", "\xD0X", false},
      {"empty", "", "", true},
  };
  const CaseInsensitiveHash hash;
  for (const auto& c : cases) {
    EXPECT_EQ(EqualsIgnoreCaseUtf8(c.a, c.b), c.equal) << c.name;
    EXPECT_EQ(EqualsIgnoreCaseUtf8(c.a, c.b), FoldCaseUtf8(c.a) == FoldCaseUtf8(c.b)) << c.name;
    EXPECT_EQ(EqualsIgnoreCase(Utf8ToUtf16(c.a), Utf8ToUtf16(c.b)), c.equal) << c.name;
    if (c.equal) {
      EXPECT_EQ(hash(c.a), hash(c.b)) << c.name;
    }
  }
}

TEST(EqualsIgnoreCaseTest, WorksAsUnorderedMapKey) {
  std::unordered_map<std::string, int, CaseInsensitiveHash, CaseInsensitiveEqual> map;
  map.emplace("https://mirava.ru/Москва/Кафе", 1);
  EXPECT_FALSE(map.emplace("HTTPS://MIRAVA.RU/москва/кафе", 2).second);
  EXPECT_EQ(map.count("https://mirava.ru/МОСКВА/КАФЕ"), 1u);
  EXPECT_EQ(map.count("https://mirava.ru/Москва/Кафе2"), 0u);
}

}  // namespace
}  // namespace mirava::analysis
