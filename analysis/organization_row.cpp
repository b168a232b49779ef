#include "analysis/organization_row.h"

#include "analysis/page_pieces.h"
#include "analysis/text_encoding.h"
#include "analysis/text_toolkit.h"

namespace mirava::analysis {

namespace {

std::u16string ToText(std::string_view utf8) {
  return Utf8ToUtf16(utf8);
}

// Repeatedly replacing two spaces by one ends with every run of spaces as a single space.
std::u16string CollapseSpaceRuns(std::u16string_view text) {
  std::u16string result;
  result.reserve(text.size());
  for (const char16_t unit : text) {
    if (unit == u' ' && !result.empty() && result.back() == u' ') {
      continue;
    }
    result.push_back(unit);
  }
  return result;
}

std::string Finish(std::u16string_view value) {
  return Utf16ToUtf8(SanitizeQuotes(value));
}

// A messenger link rebuilt from its prefix, without its query.
std::string MessengerLink(std::string_view messengers, std::string_view prefix) {
  const std::string_view id = ExtractBetween(messengers, prefix, "", "?");
  if (id.empty()) {
    return std::string();
  }
  std::string link(prefix);
  link.append(id);
  return Finish(ToText(link));
}

// The target of one of the directory's redirect links: percent-decoded (up to the first "&"),
// everything after the target prefix, without query or further parameters.
std::u16string RedirectTarget(std::u16string_view link) {
  const std::u16string decoded = PercentDecode(link);
  const std::u16string target = ExtractBetween(decoded, ToText(kRedirectTargetPrefix), u"", u"");
  return std::u16string(CutBefore(CutBefore(target, u'?'), u'&'));
}

std::string WebSite(std::string_view page) {
  const std::string_view block = ExtractBetween(page, "\"org-service-website\"", "", "</div");
  std::u16string link = ToText(ExtractBetween(block, "<a href=\"", "", "\""));
  if (link.find(ToText(kRedirectPrefix)) != std::u16string::npos) {
    link = RedirectTarget(link);
  }
  return Finish(CutBefore(link, u'?'));
}

// The social block is small, so it is read as text: the href that belongs to a type marker is
// the last one before it, and without one the value is cut from a fixed position.
std::string SocialLink(std::u16string_view social, std::u16string_view type_marker) {
  constexpr std::u16string_view kHref = u"href=\"";
  std::u16string value;
  const std::size_t marker = Pos(type_marker, social);
  if (marker != 0) {
    const std::size_t href = LastPosBefore(kHref, social, static_cast<long long>(marker));
    // 1-based, like `href`; with no href (0) this is the fixed position.
    const std::size_t value_position = href + kHref.size();
    const std::size_t quote = Pos(u"\"", social, value_position);
    if (quote != 0) {
      value = std::u16string(social.substr(value_position - 1, quote - value_position));
    }
    value = RedirectTarget(value);
  }
  return Finish(CutBefore(value, u'?'));
}

}  // namespace

OrganizationRow ExtractOrganizationRow(std::string_view page, const std::string& url,
                                       const std::string& category) {
  OrganizationRow row;
  row[kLinkColumn] = url;
  row[kCategoryColumn] = category;
  row[kOrganizationColumn] = Finish(CleanPiece(ExtractBetween(page, "name: '", "", "'")));
  row[kAddressColumn] = Finish(
      CollapseSpaceRuns(CleanPiece(ExtractBetween(page, "PostalAddress\">", "", "</address>"))));
  row[kCityColumn] =
      Finish(CleanPiece(ExtractBetween(page, "\"addressLocality\" content=\"", "", "\"")));

  const std::string_view phones =
      ExtractBetween(page, "<div class=\"service-block-controls\">", "", "</div");
  row[kPhoneColumn] = Finish(CleanPiece(ExtractBetween(phones, "data-number=\"", "", "\"")));

  const std::string_view messengers =
      ExtractBetween(page, "id=\"social-messengers\">", "", "</div>");
  row[kWhatsAppColumn] = MessengerLink(messengers, kWhatsAppPrefix);
  row[kTelegramColumn] = MessengerLink(messengers, kTelegramPrefix);
  row[kMaxProfileColumn] = Finish(ToText(ExtractBetween(messengers, kMaxProfilePrefix, "", "\"")));

  row[kWebSiteColumn] = WebSite(page);

  const std::u16string social = ToText(ExtractBetween(page, "\"org-social-list\">", "", "</div"));
  row[kVkGroupColumn] = SocialLink(social, u"data-type=\"vk_group\"");
  row[kTelegramSocialColumn] = SocialLink(social, u"data-type=\"telegram\"");
  return row;
}

std::string FormatRow(const OrganizationRow& row) {
  std::string line;
  for (std::size_t i = 0; i < row.size(); ++i) {
    if (i > 0) {
      line += '\t';
    }
    line += '"';
    // A TAB or line break inside a value would split the row into more columns or lines.
    for (const char c : row[i]) {
      line += c == '\t' || c == '\r' || c == '\n' ? ' ' : c;
    }
    line += '"';
  }
  return line;
}

std::string HeaderLine() {
  OrganizationRow titles;
  for (std::size_t i = 0; i < titles.size(); ++i) {
    titles[i] = kColumnTitles[i];
  }
  return FormatRow(titles);
}

}  // namespace mirava::analysis
