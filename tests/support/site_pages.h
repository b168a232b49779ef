#pragma once
// Pages of the fake directory site: organization pages, category listing pages and the metro and
// district hubs, with the markers the page readers look for. The engine's fake site, the demo
// site and the benchmarks all build their pages here.
//
// Values are plain text. The generator escapes them for the markup, so the readers give back
// exactly ExpectedRow / ExpectedCategoryName as long as a value holds no "<", ">", line break or
// other control character, no leading, trailing or doubled spaces, and no "'" in a link.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/organization_row.h"

namespace mirava::testing {

struct OrganizationPageData {
  std::string Id = "1000001";  // the value of the organization marker's assignment
  std::string Name;
  std::vector<std::string> AddressParts;  // shown one after another, read back joined by ", "
  std::string Locality;
  std::vector<std::string> Phones;  // only the first one is read
  // Messenger links by the part after their prefix; empty: no such link. WhatsApp and Telegram
  // links carry a query, as on the real site.
  std::string WhatsApp;
  std::string Telegram;
  std::string Max;
  // The organization's own site, may carry a query; no "&" or "\"" before its "?".
  std::string WebSite;
  bool WebSiteViaRedirect = true;
  // Social links by their target address; only redirect links of the directory give a value.
  std::string Vk;
  std::string Tg;
  bool SocialViaRedirect = true;
};

struct ListingPageData {
  std::string Heading = "Организации";  // the text of the h1 element
  // The text between "\"count\":" and the next ",", so that unusual counts can be written.
  std::string CountText = "0";
  std::string Breadcrumb;  // the current breadcrumb entry's text
  bool HasStructuredData = false;
  std::vector<std::string> StructuredNames;  // the structured-data breadcrumb's names
  // Organization addresses as written in the cards; an empty one makes a card without a link.
  std::vector<std::string> CardLinks;
  int PageNumber = 1;
};

enum class HubKind { Metro, District };

struct HubPageData {
  HubKind Kind = HubKind::Metro;
  std::string Category = "Организации";  // the heading is the category and the hub's wording
  std::vector<std::string> Links;        // station or district listing addresses
};

// Shape of a page: 0 gives a small page with little more than the markers; a larger size adds a
// head with inline scripts and a state blob, navigation, Cyrillic text and reviews around the
// markers until the page has about that many bytes. The seed varies the filler and how deep the
// markers lie.
struct PageShape {
  std::size_t TargetSize = 0;
  std::uint32_t Seed = 1;
};

std::string OrganizationPage(const OrganizationPageData& data, const PageShape& shape = {});
std::string ListingPage(const ListingPageData& data, const PageShape& shape = {});
std::string HubPage(const HubPageData& data, const PageShape& shape = {});
// The organization page of a redesigned site: it still carries the organization marker, but the
// name, address, city, phone, messengers, web site and social links sit in markup the
// organization reader does not know, so every one of them reads back empty.
std::string RedesignedOrganizationPage(const OrganizationPageData& data,
                                       const PageShape& shape = {});
// The "are you a robot?" check a site answers in place of any page, with none of the markers of
// organization, listing or hub pages.
std::string RobotCheckPage();

// The row the organization reader gives for a page made from `data`.
analysis::OrganizationRow ExpectedRow(const OrganizationPageData& data, const std::string& url,
                                      const std::string& category);
// The category name the listing reader gives for a page made from `data`.
std::string ExpectedCategoryName(const ListingPageData& data);

// Varied but repeatable sample data, for crawls and benchmarks.
OrganizationPageData SampleOrganization(std::uint32_t index);

// Every byte outside the unreserved characters as %XX.
std::string PercentEncode(std::string_view text);
// The directory's outbound link to `target`, as written in an attribute.
std::string RedirectLink(std::string_view target);

}  // namespace mirava::testing
