#include "analysis/text_toolkit.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "analysis/text_encoding.h"

namespace mirava::analysis {
namespace {

// Readable failure output for UTF-16 values.
std::string Show(std::u16string_view text) {
  return Utf16ToUtf8(text);
}

struct TExtractCase {
  const char* name;
  std::u16string_view source, start, middle, end;
  std::u16string_view expected;
};

TEST(ExtractBetweenTest, CutsAfterLastUsedMarkerUpToFollowingEnd) {
  const TExtractCase cases[] = {
      {"all three markers", u"<a>1<b>2</b>", u"<a>", u"<b>", u"</b>", u"2"},
      {"start absent", u"<b>2</b>", u"<a>", u"", u"</b>", u""},
      {"middle only before start", u"<b>x<a>y</b>", u"<a>", u"<b>", u"</b>", u""},
      {"end only before value", u"</b><a>x", u"<a>", u"", u"</b>", u""},
      {"end right after marker", u"<a></b>", u"<a>", u"", u"</b>", u""},
      {"empty start and end give whole source", u"whole", u"", u"", u"", u"whole"},
      {"empty start, middle acts as start", u"x[m]y|z", u"", u"[m]", u"|", u"y"},
      {"empty middle skipped", u"<a>v|", u"<a>", u"", u"|", u"v"},
      {"empty end runs to the end", u"<a>rest of it", u"<a>", u"", u"", u"rest of it"},
      {"end before middle ignored", u"<a>|<b>v|", u"<a>", u"<b>", u"|", u"v"},
      {"first occurrences only", u"<a>1|<a>2|", u"<a>", u"", u"|", u"1"},
      {"middle searched after start", u"<b>0<a><b>1|", u"<a>", u"<b>", u"|", u"1"},
      {"start at end of source", u"x<a>", u"<a>", u"", u"|", u""},
      {"start at end, empty end", u"x<a>", u"<a>", u"", u"", u""},
      {"end may not overlap the start", u"abb", u"ab", u"", u"bb", u""},
      {"partial match before real start", u"xabaababcY|", u"abab", u"", u"|", u"cY"},
      {"empty source", u"", u"", u"", u"", u""},
      {"case-sensitive markers", u"<A>x|", u"<a>", u"", u"|", u""},
      {"Cyrillic markers", u"Тел.: 123;", u"Тел.: ", u"", u";", u"123"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Show(ExtractBetween(c.source, c.start, c.middle, c.end)), Show(c.expected)) << c.name;
  }
}

TEST(ExtractBetweenTest, ByteVersionReturnsViewIntoSource) {
  const std::string page = "<h1>Кафе «Ромашка»</h1><h1>second</h1>";
  const std::string_view value = ExtractBetween(page, "<h1>", "", "</h1>");
  EXPECT_EQ(value, "Кафе «Ромашка»");
  EXPECT_EQ(value.data(), page.data() + 4);
  EXPECT_EQ(ExtractBetween(std::string_view(page), "", "", ""), page);
  EXPECT_EQ(ExtractBetween(std::string_view(page), "<h2>", "", ""), "");
}

struct TPosCase {
  const char* name;
  std::u16string_view needle, text;
  std::size_t from;
  std::size_t expected;
};

TEST(PosTest, FindsFirstOccurrenceFromPosition) {
  const TPosCase cases[] = {
      {"from the start", u"b", u"abab", 1, 2},
      {"from a later position", u"b", u"abab", 3, 4},
      {"from the last unit", u"b", u"abab", 4, 4},
      {"from zero", u"a", u"abab", 0, 0},
      {"from beyond the text", u"a", u"abab", 5, 0},
      {"empty needle", u"", u"abab", 1, 0},
      {"needle longer than rest", u"abc", u"xxab", 3, 0},
      {"overlapping occurrences", u"aa", u"aaaa", 2, 2},
      {"border after a mismatch", u"aab", u"aaaab", 1, 3},
      {"absent", u"abc", u"ababab", 1, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Pos(c.needle, c.text, c.from), c.expected) << c.name;
    // The test texts are ASCII, so bytes and units coincide.
    EXPECT_EQ(Pos(Utf16ToUtf8(c.needle), Utf16ToUtf8(c.text), c.from), c.expected) << c.name;
  }
}

struct TLastPosCase {
  const char* name;
  std::u16string_view needle, text;
  long long limit;
  std::size_t expected;
};

TEST(LastPosBeforeTest, FindsLastOccurrenceWhollyInsideLimit) {
  using namespace std::string_view_literals;
  const TLastPosCase cases[] = {
      {"whole occurrence inside", u"abc", u"xxabc", 5, 3},
      {"limit ends inside occurrence", u"abc", u"xxabcxx", 4, 0},
      {"limit ends inside later occurrence", u"ab", u"abxab", 4, 1},
      {"limit zero", u"a", u"aaa", 0, 0},
      {"limit negative", u"a", u"aaa", -3, 0},
      {"limit beyond text", u"a", u"aba", 1000, 3},
      {"overlapping, whole text", u"aa", u"aaaa", 4, 3},
      {"overlapping, cut", u"aa", u"aaaa", 3, 2},
      {"code 0 ends the text", u"b", u"ab\0b"sv, 10, 2},
      {"empty needle", u"", u"abc", 3, 0},
      {"absent", u"c", u"abab", 4, 0},
      {"border after a mismatch", u"abab", u"ababab", 6, 3},
      {"mismatch inside a partial match", u"baab", u"abaabaab", 8, 5},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LastPosBefore(c.needle, c.text, c.limit), c.expected) << c.name;
    EXPECT_EQ(LastPosBefore(Utf16ToUtf8(c.needle), Utf16ToUtf8(c.text), c.limit), c.expected)
        << c.name;
  }
}

struct TReplaceCase {
  const char* name;
  std::u16string_view text, old_text, new_text;
  std::u16string_view expected;
};

TEST(ReplaceAllTest, ReplacesNonOverlappingOccurrencesLeftToRight) {
  const TReplaceCase cases[] = {
      {"four spaces to two", u"    ", u"  ", u" ", u"  "},
      {"two spaces to one", u"  ", u"  ", u" ", u" "},
      {"replaced text not scanned again", u"aa", u"a", u"aa", u"aaaa"},
      {"occurrences do not overlap", u"aaa", u"aa", u"b", u"ba"},
      {"empty new deletes", u"a-b-c", u"-", u"", u"abc"},
      {"empty old changes nothing", u"abc", u"", u"x", u"abc"},
      {"case-sensitive", u"Ab ab", u"ab", u"x", u"Ab x"},
      {"partial match before occurrence", u"abaabab", u"abab", u"X", u"abaX"},
      {"absent", u"abc", u"d", u"x", u"abc"},
      {"whole text", u"abc", u"abc", u"", u""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Show(ReplaceAll(c.text, c.old_text, c.new_text)), Show(c.expected)) << c.name;
  }
}

struct TTextCase {
  const char* name;
  std::u16string_view input;
  std::u16string_view expected;
};

TEST(DecodeHtmlEntitiesTest, DecodesKnownReferencesInOnePass) {
  using namespace std::string_view_literals;
  const TTextCase cases[] = {
      {"plain text", u"no references", u"no references"},
      {"named references", u"&amp;&lt;&gt;&quot;", u"&<>\""},
      {"guillemets", u"&laquo;x&raquo;", u"\u00ABx\u00BB"},
      {"nbsp becomes an ordinary space", u"a&nbsp;b", u"a b"},
      {"trailing ampersand dropped", u"a&", u"a"},
      {"unknown name kept", u"&copy;", u"&copy;"},
      {"upper-case name kept", u"&AMP;&Lt;", u"&AMP;&Lt;"},
      {"name without semicolon kept", u"&amp x", u"&amp x"},
      {"second ampersand consumed with the first", u"&&amp;", u"&&amp;"},
      {"decimal", u"&#65;&#1025;", u"A\u0401"},
      {"apostrophe", u"&#039;", u"'"},
      {"hex with x", u"&#x41;&#X4a;", u"AJ"},
      {"hex with 0x and dollar", u"&#0x41;&#$41;&#0X6a;", u"AAj"},
      {"leading spaces and sign", u"&#  +65;", u"A"},
      {"reading stops at first non-digit", u"&#65abc;x", u"Ax"},
      {"low 16 bits", u"&#65601;", u"A"},
      {"negative wraps", u"&#-1;", u"\uFFFF"},
      {"empty reference is code 0", u"&#;x", u"\0x"sv},
      {"no semicolon: rest is the number", u"&#66 and more", u"B"},
      {"no semicolon, no digits", u"a&#x", u"a\0"sv},
      {"reference consumes up to its semicolon", u"&#65&#66;x", u"Ax"},
      {"code 0 ends the input", u"a\0&amp;"sv, u"a"},
      {"lt before laquo", u"&lt;&laquo;", u"<\u00AB"},
      {"double encoding decoded once", u"&amp;amp;", u"&amp;"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DecodeHtmlEntities(c.input), c.expected) << c.name;
  }
}

TEST(DecodeHtmlEntitiesTest, HugeNumbersKeepTheirLow16Bits) {
  // 2^40 + 66 and -(2^36) + 65: far outside 32 bits, still exact in the low 16 bits.
  EXPECT_EQ(DecodeHtmlEntities(u"&#1099511627842;"), u"B");
  EXPECT_EQ(DecodeHtmlEntities(u"&#-68719476671;"), u"A");
  EXPECT_EQ(DecodeHtmlEntities(u"&#xFFFFFFFFFFFF0041;"), u"A");
}

TEST(HtmlToTextTest, DecodesReplacesAndStripsTags) {
  const TTextCase cases[] = {
      {"tags removed", u"<b>bold</b> text", u"bold text"},
      {"decoded lt without later gt cuts", u"a &lt;b", u"a "},
      {"decoded lt with later gt removes", u"a&lt;b&gt;c", u"ac"},
      {"guillemet references", u"&laquo;Ромашка&raquo;", u"\u00ABРомашка\u00BB"},
      {"doubly encoded guillemets", u"&amp;laquo;Ромашка&amp;raquo;", u"\"Ромашка\""},
      {"br becomes a space", u"a<br>b", u"a b"},
      {"self-closing br removed", u"a<br/>b<br />c", u"abc"},
      {"line breaks deleted, tabs kept", u"a\r\nb\tc\n", u"ab\tc"},
      {"not trimmed", u"  a  ", u"  a  "},
      {"references step 1 never decodes", u"&bull;&times;&mdash;&ndash;", u"-x--"},
      {"doubly encoded others", u"&amp;nbsp;&amp;quot;&amp;#039;&amp;gt;", u" \"'>"},
      {"doubly encoded lt opens a tag", u"x&amp;lt;y", u"x"},
      {"comment cut at its first gt", u"a<!-- b > c -->d", u"a c -->d"},
      {"unclosed tag runs to the end", u"a<b c", u"a"},
      {"stray gt kept", u"a>b", u"a>b"},
      {"nested openers", u"a<<b>c>d", u"ac>d"},
      {"br split by a line break", u"a<b\nr>b", u"ab"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Show(HtmlToText(c.input)), Show(c.expected)) << c.name;
  }
}

// The tag removal done literally: delete the first "<" up to the first ">" after it (or to the
// end) and start over from the beginning.
std::u16string RemoveTagsLiterally(std::u16string text) {
  for (;;) {
    const std::size_t open = text.find(u'<');
    if (open == std::u16string::npos)
      return text;
    const std::size_t close = text.find(u'>', open);
    text.erase(open, close == std::u16string::npos ? std::u16string::npos : close - open + 1);
  }
}

TEST(HtmlToTextTest, MatchesLiteralTagRemovalOnRandomMarkup) {
  std::mt19937 random(20240611);
  // No "&", "\r", "\n" or "<br>" can occur, so decoding and replacements leave the text alone
  // and only the tag removal is compared.
  const std::u16string alphabet = u"<>ab ;lt#";
  for (int round = 0; round < 3000; ++round) {
    std::u16string tags_only(random() % 24, u' ');
    for (char16_t& unit : tags_only)
      unit = alphabet[random() % alphabet.size()];
    ASSERT_EQ(Show(HtmlToText(tags_only)), Show(RemoveTagsLiterally(tags_only))) << Show(tags_only);
  }
}

TEST(ReplaceAllTest, MatchesNaiveScanOnRandomText) {
  std::mt19937 random(7);
  for (int round = 0; round < 3000; ++round) {
    std::u16string text(random() % 30, u'a');
    for (char16_t& unit : text)
      unit = u"ab"[random() % 2];
    std::u16string old_text(1 + random() % 4, u'a');
    for (char16_t& unit : old_text)
      unit = u"ab"[random() % 2];
    std::u16string expected;
    for (std::size_t i = 0; i < text.size();) {
      if (text.compare(i, old_text.size(), old_text) == 0) {
        expected += u"<>";
        i += old_text.size();
      } else {
        expected += text[i++];
      }
    }
    ASSERT_EQ(Show(ReplaceAll(text, old_text, u"<>")), Show(expected))
        << Show(text) << " / " << Show(old_text);
    // Positions against the obvious scans as well.
    const std::size_t first = text.find(old_text);
    ASSERT_EQ(Pos(old_text, text), first == std::u16string::npos ? 0 : first + 1);
    const long long limit = random() % (text.size() + 2);
    const std::size_t last = limit < static_cast<long long>(old_text.size())
                                 ? std::u16string::npos
                                 : text.rfind(old_text, limit - old_text.size());
    ASSERT_EQ(LastPosBefore(old_text, text, limit), last == std::u16string::npos ? 0 : last + 1)
        << Show(text) << " / " << Show(old_text) << " / " << limit;
  }
}

TEST(SanitizeQuotesTest, TurnsDoubleQuotesIntoApostrophes) {
  EXPECT_EQ(SanitizeQuotes(u"\"a\" \u00AB'b'\u00BB"), u"'a' \u00AB'b'\u00BB");
}

TEST(RemoveSurrogatePairsTest, DropsHighSurrogateWithFollowingUnit) {
  const TTextCase cases[] = {
      {"pair removed", u"a\U0001F600b", u"ab"},
      {"trailing high surrogate kept", u"a\xD83D", u"a\xD83D"},
      {"lone low surrogate kept",
       u"a\xDE00"
       u"b",
       u"a\xDE00"
       u"b"},
      {"high surrogate takes any next unit", u"\xD83Dxy", u"y"},
      {"two highs in a row", u"\xD83D\xD83Dz", u"z"},
      {"BMP untouched", u"Ромашка \uFFFD", u"Ромашка \uFFFD"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RemoveSurrogatePairs(c.input), c.expected) << c.name;
  }
}

TEST(PercentDecodeTest, DecodesUpToFirstAmpersand) {
  using namespace std::string_view_literals;
  const TTextCase cases[] = {
      {"stops at ampersand", u"a%20b&c=%41", u"a b"},
      {"plus is a space", u"a+b", u"a b"},
      {"UTF-8", u"%D0%9F%D1%80%D0%B8", u"При"},
      {"lower-case hex", u"%d0%9f", u"П"},
      {"not UTF-8 falls back to Windows-1251", u"%CF%F0%E8", u"При"},
      {"overlong form is not UTF-8", u"%C0%AF", u"\u0410\u0407"},
      {"leading space takes one of the two units", u"% 41",
       u"\x04"
       u"1"},
      {"one digit then other char", u"%4G", u"\x04"},
      {"no digit gives 0", u"%zz", u"\0"sv},
      {"percent at the end", u"ab%", u"ab\0"sv},
      {"percent before ampersand", u"%4&x", u"\x04"},
      {"escape consumes two units whatever they are", u"%+++", u"\0 "sv},
      {"U+0425 acts as percent", u"\u042541", u"A"},
      {"U+042B acts as plus", u"a\u042Bb", u"a b"},
      {"U+0426 is not an ampersand", u"a\u0426b", u"a&b"},
      {"unencoded Cyrillic reduced to a byte", u"\u0430\u0431", u"01"},
      {"empty", u"", u""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Show(PercentDecode(c.input)), Show(c.expected)) << c.name;
  }
}

TEST(TextToolkitTest, NeverFailsOnArbitraryUnits) {
  std::mt19937 random(99);
  using namespace std::string_view_literals;
  const std::u16string_view pieces[] = {
      u"&"sv,      u"#"sv,  u";"sv,      u"<"sv,      u">"sv, u"%"sv,   u"+"sv, u"x"sv, u"amp;"sv,
      u"laquo;"sv, u"\0"sv, u"\xD800"sv, u"\xDC00"sv, u"Я"sv, u"&#-"sv, u"9"sv, u" "sv, u"\r\n"sv};
  for (int round = 0; round < 2000; ++round) {
    std::u16string text;
    const int count = random() % 20;
    for (int k = 0; k < count; ++k)
      text += pieces[random() % std::size(pieces)];
    const std::u16string needle(pieces[random() % std::size(pieces)]);
    // Only the absence of crashes and sanitizer reports is checked here, plus the length bound.
    EXPECT_LE(DecodeHtmlEntities(text).size(), text.size());
    HtmlToText(text);
    PercentDecode(text);
    RemoveSurrogatePairs(text);
    ReplaceAll(text, needle, text);
    ExtractBetween(text, needle, needle, needle);
    LastPosBefore(needle, text, static_cast<long long>(random() % 40) - 5);
    Pos(needle, text, random() % 30);
  }
}

}  // namespace
}  // namespace mirava::analysis
