#pragma once
// An invented business directory served through FakeSite: a few cities, five categories of car
// services and their organizations, with the listing pages, later pages, metro and district hubs
// and organization pages the crawler walks. Built from a seed and a size, so every run of a test
// sees the same directory; the demo site serves the demo size.
//
// Shape of the directory (paths below the site's origin):
//   /<city>/<category>                      category listing, 30 cards a page
//   /<city>/<category>page-<k>/             its later pages
//   /<city>/<category>metro/                metro hub in a city with metro; elsewhere a 301 to
//   /<city>/<category>rayon/                the district hub
//   /<city>/<category>metro/<station>/      station listing (and its later pages); likewise
//   /<city>/<category>rayon/<district>/     district listings
//   /org/<id>/                              organization page
// The first category ("Автосервисы") holds more than 1000 companies in every city, so its
// listing is walked by station or district. Cards repeat organizations across pages and
// subdivisions; a few card links carry a "?from=" query.
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/fake_site.h"
#include "tests/support/site_pages.h"

namespace mirava::testing {

enum class DirectorySize {
  Small,  // two cities, a few dozen organizations: for byte-exact crawls
  Demo,   // three cities, about 300 organizations
};

struct DirectoryOptions {
  std::uint32_t Seed = 1;
  DirectorySize Size = DirectorySize::Small;
  // Target size of every page in bytes; 0 gives small pages with little more than the markers.
  std::size_t PageBytes = 0;
  // Of the first requests for a path, about this many in a hundred are refused with 403, and
  // about as many more as RateLimitedPercent get 429; a repeated request for the path succeeds.
  int RefusedPercent = 0;
  int RateLimitedPercent = 0;
  // About this many in a hundred pages are sent compressed (mostly gzip, some deflate) to a
  // client that accepts it.
  int CompressedPercent = 0;
  // A site that changed while a run goes on. After the first ChangedAfter organization pages
  // answered with 200 (counted over all paths, in the order served) organization pages keep the
  // organization marker but show their values in markup the organization reader does not know,
  // as after a redesign; listings and hubs stay as they are.
  std::optional<int> ChangedAfter = std::nullopt;
  // After the first RobotCheckAfter pages answered with 200, of any kind, every request gets the
  // "are you a robot?" check page with 200 and none of the directory's markers.
  std::optional<int> RobotCheckAfter = std::nullopt;
};

struct DirectorySubdivision {
  std::string Name;  // station or district name
  std::string Slug;  // "ploshchad-lenina/"
};

struct DirectoryCity {
  std::string Name;      // "Барнаул"
  std::string Locative;  // "Барнауле", for headings
  std::string Slug;      // "barnaul/"
  bool HasMetro = false;
  std::vector<DirectorySubdivision> Subdivisions;  // stations with metro, else districts
};

struct DirectoryCategory {
  std::string Name;  // as in the category list: "Чип-тюнинг"
  std::string Path;  // "autoservice/type/chip-tuning/"
};

struct DirectoryOrganization {
  std::string Path;  // "/org/<id>/"
  std::size_t City = 0;
  OrganizationPageData Data;
  // The category names of every listing that shows it on a page the crawler reaches.
  std::set<std::string> ListedUnder;
};

struct ServedResponse {
  std::string Path;  // path and query as received
  int Status = 0;
  FakeResponse::Encoding Encoding = FakeResponse::Encoding::Identity;
  bool Changed = false;  // a redesigned organization page or the robot check
};

// What a crawl with a single worker must produce: its requests in order, every organization row
// (FormatRow, no line break) in the order written, and the category lines it logs.
struct ExpectedCrawl {
  std::vector<std::string> Requests;  // paths; a redirect's target follows the redirect
  std::vector<std::string> Rows;
  std::vector<std::string> CategoryLogs;  // "В категории ... компаний: N"
};

class FakeDirectory {
 public:
  explicit FakeDirectory(const DirectoryOptions& options);
  FakeDirectory(const FakeDirectory&) = delete;
  FakeDirectory& operator=(const FakeDirectory&) = delete;

  const std::vector<DirectoryCity>& Cities() const { return cities_; }
  const std::vector<DirectoryCategory>& Categories() const { return categories_; }
  const std::vector<DirectoryOrganization>& Organizations() const { return organizations_; }

  // The list-file value of a city ("<origin>/barnaul/") and a job address (city value followed
  // by the category's value).
  std::string CityValue(std::string_view origin, std::size_t city) const;
  std::string JobAddress(std::string_view origin, std::size_t city, std::size_t category) const;
  // The category name the listing reader gives for the listings of a city's category.
  std::string CategoryName(std::size_t city, std::size_t category) const;

  // The response to a request, with absolute links on `origin`; counts requests per path for
  // the failure options and records what it served. Safe from the site's connection threads.
  FakeResponse Respond(std::string_view origin, const RecordedRequest& request);
  // Lets the site answer every request from this directory, which must outlive the site.
  void Attach(FakeSite& site);

  std::vector<ServedResponse> Served() const;
  // Switches ChangedAfter and RobotCheckAfter off: the site has recovered, and from the next
  // request on serves its usual pages. Safe while the site serves.
  void BackToNormal();

  // The crawl of these job addresses by a run with one worker and no failures.
  ExpectedCrawl ExpectCrawl(std::string_view origin,
                            const std::vector<std::string>& job_addresses) const;

 private:
  struct Listing {
    std::size_t City = 0;
    std::size_t Category = 0;
    std::string Root;  // path of its first page
    std::string Heading;
    int Count = 0;
    std::vector<std::size_t> Cards;  // organization indices, Count of them, in page order
    std::vector<bool> CardQuery;     // whether a card's link carries a query
  };
  struct Hub {
    HubKind Kind = HubKind::Metro;
    std::string Heading;             // the category part of the hub's heading
    std::vector<std::string> Links;  // listing paths, in page order
  };
  // What a path leads to.
  struct Page {
    enum class Kind { Listing, Hub, Redirect, Organization } Type = Kind::Listing;
    std::size_t Index = 0;  // listing, hub or organization
    int PageNumber = 1;
    std::string Target;  // redirect target path
  };

  void BuildCities();
  void BuildCategories();
  // The organizations, and the home category of each.
  std::vector<std::size_t> BuildOrganizations();
  void BuildListings(const std::vector<std::size_t>& homes);
  void AddListing(Listing listing);
  std::optional<Page> Find(std::string_view path) const;
  std::string Render(std::string_view origin, const Page& page, bool redesigned) const;
  ListingPageData ListingData(std::string_view origin, const Listing& listing,
                              int page_number) const;
  std::uint64_t PathHash(std::string_view path, std::uint64_t salt) const;

  DirectoryOptions options_;
  std::vector<DirectoryCity> cities_;
  std::vector<DirectoryCategory> categories_;
  std::vector<DirectoryOrganization> organizations_;
  std::vector<Listing> listings_;
  std::vector<Hub> hubs_;
  std::map<std::string, Page, std::less<>> pages_;

  mutable std::mutex mutex_;
  std::map<std::string, int> requests_per_path_;
  std::vector<ServedResponse> served_;
  // The change options, here so that BackToNormal can switch them off, and what they count.
  std::optional<int> changed_after_;
  std::optional<int> robot_check_after_;
  int organization_pages_ = 0;  // organization pages answered with 200
  int ok_responses_ = 0;        // responses with 200
};

}  // namespace mirava::testing
