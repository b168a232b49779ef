// The text toolkit against plain reference versions written straight from its rules: slow,
// quadratic where that is simplest, and obviously right on small inputs.
//
// Input: a first byte chooses how the rest becomes text (even: UTF-8 decoded as a page is; odd:
// raw UTF-16LE units, lone surrogates and code 0 included); the text is then split at "|" into
// source, start, middle and end. The byte searches are also checked against the text searches
// on the decoded page.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "analysis/text_encoding.h"
#include "analysis/text_toolkit.h"
#include "fuzz/fuzz_check.h"

namespace {

using namespace mirava::analysis;
using Text = std::u16string;
using View = std::u16string_view;

std::size_t RefPos(View needle, View text, std::size_t from = 1) {
  if (needle.empty() || from < 1 || from > text.size()) {
    return 0;
  }
  for (std::size_t p = from; p + needle.size() - 1 <= text.size(); ++p) {
    if (text.substr(p - 1, needle.size()) == needle) {
      return p;
    }
  }
  return 0;
}

std::size_t RefLastPosBefore(View needle, View text, long long limit) {
  text = text.substr(0, text.find(u'\0'));
  if (limit <= 0 || needle.empty()) {
    return 0;
  }
  const View head = text.substr(
      0, static_cast<std::size_t>(std::min<long long>(limit, static_cast<long long>(text.size()))));
  std::size_t last = 0;
  for (std::size_t p = 1; p + needle.size() - 1 <= head.size(); ++p) {
    if (head.substr(p - 1, needle.size()) == needle) {
      last = p;
    }
  }
  return last;
}

Text RefExtractBetween(View source, View start, View middle, View end) {
  View current = start;
  std::size_t p = start.empty() ? 1 : RefPos(start, source);
  if (p == 0) {
    return Text();
  }
  if (!middle.empty()) {
    p = RefPos(middle, source, p + current.size());
    current = middle;
    if (p == 0) {
      return Text();
    }
  }
  const std::size_t q = end.empty() ? source.size() + 1 : RefPos(end, source, p + current.size());
  if (q == 0) {
    return Text();
  }
  const std::size_t from = p + current.size();
  if (q < from) {
    return Text();  // cannot happen: the end is searched from `from`
  }
  return Text(source.substr(from - 1, q - from));
}

Text RefReplaceAll(View text, View old_text, View new_text) {
  if (old_text.empty()) {
    return Text(text);
  }
  Text result;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text.substr(i, old_text.size()) == old_text) {
      result += new_text;
      i += old_text.size();
    } else {
      result += text[i++];
    }
  }
  return result;
}

char16_t RefNumber(View number) {
  std::size_t k = 0;
  while (k < number.size() && number[k] == u' ')
    ++k;
  bool negative = false;
  if (k < number.size() && (number[k] == u'+' || number[k] == u'-')) {
    negative = number[k++] == u'-';
  }
  std::uint64_t base = 10;
  if (number.substr(k).starts_with(u"0x") || number.substr(k).starts_with(u"0X")) {
    base = 16;
    k += 2;
  } else if (k < number.size() && (number[k] == u'$' || number[k] == u'x' || number[k] == u'X')) {
    base = 16;
    k += 1;
  }
  std::uint64_t value = 0;
  for (; k < number.size(); ++k) {
    const char16_t u = number[k];
    std::uint64_t digit = 99;
    if (u >= u'0' && u <= u'9')
      digit = u - u'0';
    if (base == 16 && u >= u'a' && u <= u'f')
      digit = u - u'a' + 10;
    if (base == 16 && u >= u'A' && u <= u'F')
      digit = u - u'A' + 10;
    if (digit >= base)
      break;
    value = value * base + digit;
  }
  if (negative)
    value = 0 - value;
  return static_cast<char16_t>(value & 0xFFFF);
}

Text RefDecodeHtmlEntities(View text) {
  text = text.substr(0, text.find(u'\0'));
  const std::pair<View, char16_t> names[] = {{u"amp;", u'&'},  {u"lt;", u'<'},   {u"laquo;", 0xAB},
                                             {u"gt;", u'>'},   {u"nbsp;", u' '}, {u"quot;", u'"'},
                                             {u"raquo;", 0xBB}};
  Text result;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] != u'&') {
      result += text[i++];
      continue;
    }
    if (i + 1 == text.size()) {
      break;
    }
    const std::size_t c = i + 1;
    if (text[c] == u'#') {
      const std::size_t semicolon = text.find(u';', c + 1);
      if (semicolon == View::npos) {
        result += RefNumber(text.substr(c + 1));
        break;
      }
      result += RefNumber(text.substr(c + 1, semicolon - c - 1));
      i = semicolon + 1;
      continue;
    }
    bool known = false;
    for (const auto& [name, written] : names) {
      if (text.substr(c).starts_with(name)) {
        result += written;
        i = c + name.size();
        known = true;
        break;
      }
    }
    if (!known) {
      result += u'&';
      result += text[c];
      i = c + 1;
    }
  }
  return result;
}

Text RefHtmlToText(View html) {
  Text text = RefDecodeHtmlEntities(html);
  const std::pair<View, View> pairs[] = {
      {u"&nbsp;", u" "},  {u"&bull;", u"-"},  {u"&times;", u"x"},  {u"&quot;", u"\""},
      {u"&mdash;", u"-"}, {u"&ndash;", u"-"}, {u"&laquo;", u"\""}, {u"&raquo;", u"\""},
      {u"&lt;", u"<"},    {u"&gt;", u">"},    {u"&#039;", u"'"},   {u"<br>", u" "},
      {u"\r", u""},       {u"\n", u""}};
  for (const auto& [old_text, new_text] : pairs) {
    text = RefReplaceAll(text, old_text, new_text);
  }
  for (;;) {
    const std::size_t p = RefPos(u"<", text);
    if (p == 0) {
      return text;
    }
    const std::size_t q = RefPos(u">", text, p);
    text.erase(p - 1, q == 0 ? Text::npos : q - p + 1);
  }
}

Text RefRemoveSurrogatePairs(View text) {
  Text result;
  std::size_t i = 0;
  while (i < text.size()) {
    if (i + 1 < text.size() && text[i] >= 0xD800 && text[i] <= 0xDBFF) {
      i += 2;
    } else {
      result += text[i++];
    }
  }
  return result;
}

int Hex(char16_t u) {
  if (u >= u'0' && u <= u'9')
    return u - u'0';
  if (u >= u'a' && u <= u'f')
    return u - u'a' + 10;
  if (u >= u'A' && u <= u'F')
    return u - u'A' + 10;
  return -1;
}

Text RefPercentDecode(View text) {
  text = text.substr(0, text.find(u'&'));  // the first "&" ends the decoded part
  std::string bytes;
  std::size_t i = 0;
  while (i < text.size()) {
    const unsigned reduced = text[i] & 0xFF;
    if (reduced == 0x25) {
      const View two = text.substr(i + 1, 2);
      std::size_t k = 0;
      while (k < two.size() && two[k] == u' ')
        ++k;
      unsigned value = 0;
      for (; k < two.size() && Hex(two[k]) >= 0; ++k)
        value = value * 16 + Hex(two[k]);
      bytes += static_cast<char>(value & 0xFF);
      i += 1 + two.size();
    } else {
      bytes += reduced == 0x2B ? ' ' : static_cast<char>(reduced);
      ++i;
    }
  }
  return IsWellFormedUtf8(bytes) ? Utf8ToUtf16(bytes) : Windows1251ToUtf16(bytes);
}

Text RefTrim(View text) {
  std::size_t b = 0, e = text.size();
  while (b < e && text[b] <= 32)
    ++b;
  while (e > b && text[e - 1] <= 32)
    --e;
  return Text(text.substr(b, e - b));
}

Text FromUtf16Le(std::string_view bytes) {
  Text text;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                  static_cast<unsigned char>(bytes[i + 1]) << 8);
  }
  return text;
}

std::vector<Text> SplitText(View text) {
  std::vector<Text> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t bar = text.find(u'|', start);
    parts.emplace_back(text.substr(start, bar - start));
    if (bar == View::npos)
      break;
    start = bar + 1;
  }
  parts.resize(std::max<std::size_t>(parts.size(), 4));
  return parts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The references are quadratic; long inputs add nothing they would not find on short ones.
  if (size == 0 || size > 4096) {
    return 0;
  }
  const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  const bool raw_units = data[0] % 2 == 1;
  const Text text = raw_units ? FromUtf16Le(rest) : Utf8ToUtf16(rest);
  const std::vector<Text> parts = SplitText(text);
  const Text& source = parts[0];
  const Text& a = parts[1];
  const Text& b = parts[2];
  const Text& c = parts[3];

  FUZZ_CHECK(ExtractBetween(source, a, b, c) == RefExtractBetween(source, a, b, c));
  FUZZ_CHECK(Pos(a, source) == RefPos(a, source));
  const long long limit = static_cast<long long>(data[0]) - 16;
  FUZZ_CHECK(LastPosBefore(a, source, limit) == RefLastPosBefore(a, source, limit));
  FUZZ_CHECK(LastPosBefore(a, source, static_cast<long long>(source.size())) ==
             RefLastPosBefore(a, source, static_cast<long long>(source.size())));
  FUZZ_CHECK(ReplaceAll(source, a, b) == RefReplaceAll(source, a, b));
  FUZZ_CHECK(DecodeHtmlEntities(source) == RefDecodeHtmlEntities(source));
  FUZZ_CHECK(DecodeHtmlEntities(source).size() <= source.size());
  FUZZ_CHECK(HtmlToText(source) == RefHtmlToText(source));
  FUZZ_CHECK(SanitizeQuotes(source) == RefReplaceAll(source, u"\"", u"'"));
  FUZZ_CHECK(RemoveSurrogatePairs(source) == RefRemoveSurrogatePairs(source));
  FUZZ_CHECK(PercentDecode(source) == RefPercentDecode(source));
  FUZZ_CHECK(Trim(source) == RefTrim(source));

  // The byte versions on the page's UTF-8 give what the text versions give on its decoding,
  // as long as the markers are well-formed.
  if (!raw_units) {
    std::vector<std::string> byte_parts;
    for (std::string_view piece : mirava::fuzz::SplitAt(rest, "|")) {
      byte_parts.emplace_back(piece);
    }
    byte_parts.resize(std::max<std::size_t>(byte_parts.size(), 4));
    if (IsWellFormedUtf8(byte_parts[1]) && IsWellFormedUtf8(byte_parts[2]) &&
        IsWellFormedUtf8(byte_parts[3])) {
      const std::string_view found = ExtractBetween(std::string_view(byte_parts[0]), byte_parts[1],
                                                    byte_parts[2], byte_parts[3]);
      FUZZ_CHECK(Utf8ToUtf16(found) == RefExtractBetween(Utf8ToUtf16(byte_parts[0]), a, b, c));
    }
  }
  return 0;
}
