#include "analysis/text_toolkit.h"

#include <string.h>  // memmem

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "analysis/text_encoding.h"

namespace mirava::analysis {
namespace {

constexpr std::size_t kNone = std::size_t(-1);

// Knuth-Morris-Pratt search, so that no text makes a search slower than linear. While no prefix
// of the pattern is matched it jumps to the next copy of the pattern's first unit.
template <class Unit>
class TUnitSearcher {
 public:
  using View = std::basic_string_view<Unit>;

  // `pattern` must not be empty. For FindLast it is the needle reversed.
  explicit TUnitSearcher(std::basic_string<Unit> pattern)
      : pattern_(std::move(pattern)), border_(pattern_.size(), 0) {
    std::size_t length = 0;
    for (std::size_t i = 1; i < pattern_.size(); ++i) {
      while (length > 0 && pattern_[i] != pattern_[length])
        length = border_[length - 1];
      if (pattern_[i] == pattern_[length])
        ++length;
      border_[i] = length;
    }
  }

  // 0-based start of the first occurrence that begins at `from` or later, or kNone.
  std::size_t FindFirst(View text, std::size_t from) const {
    const std::size_t m = pattern_.size();
    std::size_t i = from;
    std::size_t matched = 0;
    while (i < text.size()) {
      if (matched == 0) {
        i = text.find(pattern_[0], i);
        if (i == View::npos)
          return kNone;
      }
      if (text.size() - i < m - matched)
        return kNone;
      if (text[i] == pattern_[matched]) {
        ++i;
        if (++matched == m)
          return i - m;
      } else {
        matched = border_[matched - 1];
      }
    }
    return kNone;
  }

  // 0-based start of the last occurrence lying wholly within text[0, end), or kNone. The
  // searcher must have been built from the reversed needle.
  std::size_t FindLast(View text, std::size_t end) const {
    const std::size_t m = pattern_.size();
    std::size_t i = end;  // text[i - 1] is the next unit to compare
    std::size_t matched = 0;
    while (i > 0) {
      if (matched == 0) {
        const std::size_t at = text.rfind(pattern_[0], i - 1);
        if (at == View::npos)
          return kNone;
        i = at + 1;
      }
      if (i < m - matched)
        return kNone;
      if (text[i - 1] == pattern_[matched]) {
        --i;
        if (++matched == m)
          return i;
      } else {
        matched = border_[matched - 1];
      }
    }
    return kNone;
  }

 private:
  std::basic_string<Unit> pattern_;
  std::vector<std::size_t> border_;  // border_[i]: longest proper border of pattern_[0..i]
};

// 0-based first occurrence of a non-empty needle from `from`, or kNone.
std::size_t FindFrom(std::u16string_view text, std::u16string_view needle, std::size_t from) {
  if (from >= text.size())
    return kNone;
  if (needle.size() == 1)
    return text.find(needle[0], from);  // npos == kNone
  return TUnitSearcher<char16_t>(std::u16string(needle)).FindFirst(text, from);
}

std::size_t FindFrom(std::string_view text, std::string_view needle, std::size_t from) {
  if (from >= text.size())
    return kNone;
#if defined(__GLIBC__)
  // glibc's memmem is linear (two-way algorithm) and much faster than a unit loop.
  const void* found = memmem(text.data() + from, text.size() - from, needle.data(), needle.size());
  return found == nullptr ? kNone : static_cast<const char*>(found) - text.data();
#else
  // No memmem in the Windows C runtime; the unit searcher is linear as well.
  if (needle.empty())
    return from;
  if (needle.size() == 1)
    return text.find(needle[0], from);  // npos == kNone
  return TUnitSearcher<char>(std::string(needle)).FindFirst(text, from);
#endif
}

template <class Unit>
std::basic_string_view<Unit> ExtractView(std::basic_string_view<Unit> source,
                                         std::basic_string_view<Unit> start,
                                         std::basic_string_view<Unit> middle,
                                         std::basic_string_view<Unit> end) {
  std::size_t p = 0;  // 0-based start of the current marker
  if (!start.empty()) {
    p = FindFrom(source, start, 0);
    if (p == kNone)
      return {};
  }
  std::size_t marker_length = start.size();
  if (!middle.empty()) {
    p = FindFrom(source, middle, p + marker_length);
    if (p == kNone)
      return {};
    marker_length = middle.size();
  }
  const std::size_t value_begin = p + marker_length;
  std::size_t value_end = source.size();
  if (!end.empty()) {
    value_end = FindFrom(source, end, value_begin);
    if (value_end == kNone)
      return {};
  }
  return source.substr(value_begin, value_end - value_begin);
}

template <class Unit>
std::size_t LastPosBeforeIn(std::basic_string_view<Unit> needle, std::basic_string_view<Unit> text,
                            long long limit) {
  if (needle.empty() || limit <= 0)
    return 0;
  text = text.substr(0, text.find(Unit(0)));  // a code 0 ends the text
  const std::size_t end = std::min<unsigned long long>(limit, text.size());
  if (needle.size() > end)
    return 0;
  std::size_t found;
  if (needle.size() == 1) {
    found = text.rfind(needle[0], end - 1);
  } else {
    std::basic_string<Unit> reversed(needle.rbegin(), needle.rend());
    found = TUnitSearcher<Unit>(std::move(reversed)).FindLast(text, end);
  }
  return found == kNone ? 0 : found + 1;
}

template <class Unit>
std::size_t PosIn(std::basic_string_view<Unit> needle, std::basic_string_view<Unit> text,
                  std::size_t from) {
  if (needle.empty() || from < 1 || from > text.size())
    return 0;
  const std::size_t found = FindFrom(text, needle, from - 1);
  return found == kNone ? 0 : found + 1;
}

// Replaces in place and leaves `text` untouched when `old_text` does not occur.
void ReplaceEvery(std::u16string& text, std::u16string_view old_text,
                  std::u16string_view new_text) {
  if (FindFrom(text, old_text, 0) != kNone)
    text = ReplaceAll(text, old_text, new_text);
}

// The lenient integer reading of a numeric character reference, reduced to the low 16 bits.
// Unsigned arithmetic wraps modulo 2^32, which keeps the low 16 bits exact for any length.
char16_t ReadReferenceNumber(std::u16string_view number) {
  std::size_t k = 0;
  while (k < number.size() && number[k] == u' ')
    ++k;
  bool negative = false;
  if (k < number.size() && (number[k] == u'+' || number[k] == u'-')) {
    negative = number[k] == u'-';
    ++k;
  }
  unsigned base = 10;
  if (k < number.size() && (number[k] == u'$' || number[k] == u'x' || number[k] == u'X')) {
    base = 16;
    ++k;
  } else if (k + 1 < number.size() && number[k] == u'0' &&
             (number[k + 1] == u'x' || number[k + 1] == u'X')) {
    base = 16;
    k += 2;
  }
  std::uint32_t value = 0;
  for (; k < number.size(); ++k) {
    const int digit = HexDigitValue(number[k]);
    if (digit < 0 || static_cast<unsigned>(digit) >= base) {
      break;
    }
    value = value * base + static_cast<unsigned>(digit);
  }
  if (negative)
    value = 0u - value;
  return static_cast<char16_t>(value & 0xFFFF);
}

struct TNamedReference {
  std::u16string_view name;  // with its ";"
  char16_t written;
};

constexpr TNamedReference kNamedReferences[] = {
    {u"amp;", u'&'},  {u"lt;", u'<'},   {u"laquo;", 0x00AB}, {u"gt;", u'>'},
    {u"nbsp;", u' '}, {u"quot;", u'"'}, {u"raquo;", 0x00BB},
};

struct TReplacement {
  std::u16string_view old_text;
  std::u16string_view new_text;
};

// Leftovers after entity decoding, such as references whose "&" was itself encoded.
constexpr TReplacement kHtmlReplacements[] = {
    {u"&nbsp;", u" "},  {u"&bull;", u"-"},  {u"&times;", u"x"},  {u"&quot;", u"\""},
    {u"&mdash;", u"-"}, {u"&ndash;", u"-"}, {u"&laquo;", u"\""}, {u"&raquo;", u"\""},
    {u"&lt;", u"<"},    {u"&gt;", u">"},    {u"&#039;", u"'"},   {u"<br>", u" "},
    {u"\r", u""},       {u"\n", u""},
};

}  // namespace

std::u16string ExtractBetween(std::u16string_view source, std::u16string_view start,
                              std::u16string_view middle, std::u16string_view end) {
  return std::u16string(ExtractView(source, start, middle, end));
}

std::string_view ExtractBetween(std::string_view source, std::string_view start,
                                std::string_view middle, std::string_view end) {
  return ExtractView(source, start, middle, end);
}

std::size_t LastPosBefore(std::u16string_view needle, std::u16string_view text, long long limit) {
  return LastPosBeforeIn(needle, text, limit);
}

std::size_t LastPosBefore(std::string_view needle, std::string_view text, long long limit) {
  return LastPosBeforeIn(needle, text, limit);
}

std::size_t Pos(std::u16string_view needle, std::u16string_view text, std::size_t from) {
  return PosIn(needle, text, from);
}

std::size_t Pos(std::string_view needle, std::string_view text, std::size_t from) {
  return PosIn(needle, text, from);
}

std::u16string ReplaceAll(std::u16string_view text, std::u16string_view old_text,
                          std::u16string_view new_text) {
  if (old_text.empty())
    return std::u16string(text);
  const TUnitSearcher<char16_t> searcher{std::u16string(old_text)};
  std::u16string result;
  result.reserve(text.size());
  std::size_t copied = 0;
  for (;;) {
    const std::size_t found = searcher.FindFirst(text, copied);
    if (found == kNone)
      break;
    result.append(text.substr(copied, found - copied)).append(new_text);
    copied = found + old_text.size();
  }
  result.append(text.substr(copied));
  return result;
}

std::u16string DecodeHtmlEntities(std::u16string_view text) {
  text = text.substr(0, text.find(u'\0'));  // a code 0 ends the input
  std::u16string result;
  result.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t ampersand = text.find(u'&', i);
    if (ampersand == std::u16string_view::npos) {
      result.append(text.substr(i));
      break;
    }
    result.append(text.substr(i, ampersand - i));
    if (ampersand + 1 == text.size())
      break;  // a trailing "&" is dropped
    const std::size_t c = ampersand + 1;
    if (text[c] == u'#') {
      // Each reference is read up to its own ";", which it then consumes, so every unit is
      // looked at a bounded number of times even in "&#&#&#...".
      const std::size_t semicolon = text.find(u';', c + 1);
      const std::size_t number_end =
          semicolon == std::u16string_view::npos ? text.size() : semicolon;
      result += ReadReferenceNumber(text.substr(c + 1, number_end - (c + 1)));
      if (semicolon == std::u16string_view::npos)
        break;
      i = semicolon + 1;
      continue;
    }
    const std::u16string_view rest = text.substr(c);
    const auto known =
        std::find_if(std::begin(kNamedReferences), std::end(kNamedReferences),
                     [&](const TNamedReference& ref) { return rest.starts_with(ref.name); });
    if (known != std::end(kNamedReferences)) {
      result += known->written;
      i = c + known->name.size();
    } else {
      result += u'&';
      result += text[c];
      i = c + 1;
    }
  }
  return result;
}

std::u16string HtmlToText(std::u16string_view html) {
  std::u16string text = DecodeHtmlEntities(html);
  for (const TReplacement& replacement : kHtmlReplacements) {
    ReplaceEvery(text, replacement.old_text, replacement.new_text);
  }
  // Removing the first "<"..">" and starting over from the beginning is the same as one pass:
  // nothing before a removed tag holds a "<", so the next search starts where this one ended.
  std::u16string result;
  result.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t open = text.find(u'<', i);
    if (open == std::u16string::npos) {
      result.append(text, i);
      break;
    }
    result.append(text, i, open - i);
    const std::size_t close = text.find(u'>', open + 1);
    if (close == std::u16string::npos)
      break;  // an unclosed tag runs to the end
    i = close + 1;
  }
  return result;
}

std::u16string SanitizeQuotes(std::u16string_view text) {
  std::u16string result(text);
  std::replace(result.begin(), result.end(), u'"', u'\'');
  return result;
}

std::u16string RemoveSurrogatePairs(std::u16string_view text) {
  std::u16string result;
  result.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size()) {
      ++i;  // the high surrogate goes with whatever follows it
    } else {
      result += unit;
    }
  }
  return result;
}

std::u16string PercentDecode(std::u16string_view text) {
  text = text.substr(0, text.find(u'&'));
  std::string bytes;
  bytes.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto reduced = static_cast<unsigned char>(text[i] & 0xFF);
    if (reduced == '%') {
      // The two units after "%" are consumed whatever they are.
      constexpr std::size_t kEscapeLength = 3;  // "%" and two hex digits
      const std::size_t end = std::min(i + kEscapeLength, text.size());
      std::size_t k = i + 1;
      while (k < end && text[k] == u' ')
        ++k;
      unsigned value = 0;
      for (; k < end && HexDigitValue(text[k]) >= 0; ++k)
        value = value * 16 + HexDigitValue(text[k]);
      bytes += static_cast<char>(value);
      i = end;
    } else {
      bytes += reduced == '+' ? ' ' : static_cast<char>(reduced);
      ++i;
    }
  }
  return IsWellFormedUtf8(bytes) ? Utf8ToUtf16(bytes) : Windows1251ToUtf16(bytes);
}

}  // namespace mirava::analysis
