#include "base/organization_base.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "analysis/organization_row.h"
#include "base/schema.h"
#include "base/sqlite_connection.h"
#include "tests/base/base_folder.h"

namespace mirava::base {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// Every value distinct, so a value written into the wrong column shows.
analysis::OrganizationRow Row(const std::string& link,
                              const std::string& phone = "+7 (3852) 20-30-40") {
  return {link,
          "Автосервисы",
          "ООО 'Мотор'",
          "Барнаул, ул. Ленина, 5, офис 12",
          "Барнаул",
          phone,
          "https://wa.me/79001234567",
          "https://t.me/motor",
          "id500001",
          "https://motor.example.ru/",
          "https://vk.com/club200001",
          "https://t.me/channel_motor"};
}

std::vector<StoredOrganization> List(OrganizationBase& base,
                                     std::optional<EpochSeconds> since = std::nullopt) {
  std::vector<StoredOrganization> all;
  base.ListOrganizations(since, [&](const StoredOrganization& o) { all.push_back(o); });
  return all;
}

std::vector<std::string> Links(const std::vector<StoredOrganization>& organizations) {
  std::vector<std::string> links;
  for (const StoredOrganization& o : organizations) {
    links.push_back(o.Row[analysis::kLinkColumn]);
  }
  return links;
}

class OrganizationBaseTest : public ::testing::Test {
 protected:
  BaseFolder folder_;
  const std::string path_ = folder_.File("organizations.db");
};

TEST_F(OrganizationBaseTest, ARepeatRunFindsItsOrganizationsKnownAndKeepsTheirFirstSighting) {
  const std::string a = "https://mirava.ru/org/1001/";
  const std::string b = "https://mirava.ru/org/1002/";
  const std::string c = "https://mirava.ru/org/1003/";
  {
    OrganizationBase base(path_);
    const std::vector<analysis::OrganizationRow> first = {Row(a), Row(b)};
    EXPECT_THAT(base.RecordRows("data1.tab", first, 1000),
                ElementsAre(RowOutcome::New, RowOutcome::New));
  }
  // A second run, as a later start of the program: the base comes from the file.
  OrganizationBase base(path_);
  const std::vector<analysis::OrganizationRow> second = {Row(a), Row(b, "+7 (3852) 99-99-99"),
                                                         Row(c)};
  EXPECT_THAT(base.RecordRows("data2.tab", second, 2000),
              ElementsAre(RowOutcome::Known, RowOutcome::Changed, RowOutcome::New));

  const std::vector<StoredOrganization> all = List(base);
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[0].Row, Row(a));
  EXPECT_EQ(all[0].FirstSeen, 1000);
  EXPECT_EQ(all[0].LastSeen, 2000);
  EXPECT_EQ(all[0].FirstRun, "data1.tab");
  EXPECT_EQ(all[0].LastRun, "data2.tab");
  EXPECT_EQ(all[1].Row, Row(b, "+7 (3852) 99-99-99"));
  EXPECT_EQ(all[1].FirstSeen, 1000);
  EXPECT_EQ(all[1].LastSeen, 2000);
  EXPECT_EQ(all[2].Row, Row(c));
  EXPECT_EQ(all[2].FirstSeen, 2000);
  EXPECT_EQ(all[2].FirstRun, "data2.tab");
  EXPECT_EQ(all[2].LastRun, "data2.tab");

  const std::optional<Sighting> found = base.Find(a);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->FirstSeen, 1000);
  EXPECT_EQ(found->LastSeen, 2000);
  EXPECT_FALSE(base.Find("https://mirava.ru/org/1004/"));
}

TEST_F(OrganizationBaseTest, TheSecondRowOfOneOrganizationInABatchFindsItKnown) {
  OrganizationBase base(path_);
  const std::string link = "https://mirava.ru/org/7/";
  const std::vector<analysis::OrganizationRow> batch = {Row(link), Row(link),
                                                        Row(link, "+7 900 000-00-00")};
  EXPECT_THAT(base.RecordRows("data1.tab", batch, 50),
              ElementsAre(RowOutcome::New, RowOutcome::Known, RowOutcome::Changed));
  EXPECT_THAT(Links(List(base)), ElementsAre(link));
}

TEST_F(OrganizationBaseTest, AnEmptyBatchRecordsNothing) {
  OrganizationBase base(path_);
  EXPECT_THAT(base.RecordRows("data1.tab", std::span<const RecordedRow>(), 50), IsEmpty());
  EXPECT_THAT(List(base), IsEmpty());
}

struct IdentityCase {
  const char* Name;
  const char* First;
  const char* Second;
  bool Same;
};

void PrintTo(const IdentityCase& c, std::ostream* out) {
  *out << c.Name;
}

class OrganizationIdentityTest : public ::testing::TestWithParam<IdentityCase> {};

TEST_P(OrganizationIdentityTest, AddressesThatDifferOnlyInLetterCaseAreOneOrganization) {
  const IdentityCase& c = GetParam();
  BaseFolder folder;
  OrganizationBase base(folder.File("organizations.db"));
  const std::vector<analysis::OrganizationRow> first = {Row(c.First)};
  base.RecordRows("data1.tab", first, 100);

  EXPECT_EQ(base.Find(c.Second).has_value(), c.Same);
  const std::vector<analysis::OrganizationRow> second = {Row(c.Second)};
  EXPECT_THAT(base.RecordRows("data2.tab", second, 200),
              ElementsAre(c.Same ? RowOutcome::Changed : RowOutcome::New));
  // One organization keeps the address as last seen.
  if (c.Same) {
    EXPECT_THAT(Links(List(base)), ElementsAre(c.Second));
  } else {
    EXPECT_THAT(Links(List(base)), ElementsAre(c.First, c.Second));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OrganizationIdentityTest,
    ::testing::Values(
        IdentityCase{"LatinPath", "https://mirava.ru/org/ABC/", "https://mirava.ru/org/abc/", true},
        IdentityCase{"SchemeAndHost", "HTTPS://MIRAVA.RU/org/1/", "https://mirava.ru/org/1/", true},
        IdentityCase{"CyrillicPath", "https://mirava.ru/Барнаул/ЁЛКА/",
                     "https://mirava.ru/барнаул/ёлка/", true},
        IdentityCase{"TrailingSlash", "https://mirava.ru/org/1/", "https://mirava.ru/org/1", false},
        IdentityCase{"OtherScheme", "https://mirava.ru/org/1/", "http://mirava.ru/org/1/", false},
        IdentityCase{"Query", "https://mirava.ru/org/1/", "https://mirava.ru/org/1/?from=list",
                     false}),
    [](const ::testing::TestParamInfo<IdentityCase>& info) { return info.param.Name; });

// Addresses an organization is known under: its link, and the addresses its page was queued
// under when the site redirected them or the fetch rewrote them.
struct Recording {
  const char* Queued;
  const char* Link;
  EpochSeconds At;  // also names the run: "data<At>.tab"
};

struct AliasCase {
  const char* Name;
  std::vector<Recording> Recordings;  // each a batch of its own, in order
  std::vector<RowOutcome> Outcomes;
  // Each address asked after the base was opened again, with the first sighting found.
  std::vector<std::pair<const char*, std::optional<EpochSeconds>>> Found;
  std::vector<std::string> Links;  // the organizations, as listed
  std::int64_t StoredAliases = 0;
};

void PrintTo(const AliasCase& c, std::ostream* out) {
  *out << c.Name;
}

class OrganizationAliasTest : public ::testing::TestWithParam<AliasCase> {};

constexpr const char* kQueued = "https://mirava.ru/barnaul/firm/motor/";
constexpr const char* kOther = "https://mirava.ru/barnaul/firm/motor-2/";
constexpr const char* kLink = "https://mirava.ru/org/1001/";
constexpr const char* kSecondLink = "https://mirava.ru/org/1002/";

TEST_P(OrganizationAliasTest, AnOrganizationIsFoundUnderEveryAddressItWasQueuedUnder) {
  const AliasCase& c = GetParam();
  BaseFolder folder;
  const std::string path = folder.File("organizations.db");
  {
    OrganizationBase base(path);
    std::vector<RowOutcome> outcomes;
    for (const Recording& recording : c.Recordings) {
      const std::vector<RecordedRow> batch = {{recording.Queued, Row(recording.Link)}};
      const std::vector<RowOutcome> batch_outcomes =
          base.RecordRows("data" + std::to_string(recording.At) + ".tab", batch, recording.At);
      outcomes.insert(outcomes.end(), batch_outcomes.begin(), batch_outcomes.end());
    }
    EXPECT_EQ(outcomes, c.Outcomes);
  }
  OrganizationBase base(path);
  for (const auto& [address, first_seen] : c.Found) {
    SCOPED_TRACE(address);
    const std::optional<Sighting> found = base.Find(address);
    EXPECT_EQ(found ? std::optional(found->FirstSeen) : std::nullopt, first_seen);
  }
  EXPECT_EQ(Links(List(base)), c.Links);
  EXPECT_EQ(Connection(path, kBusyTimeout).ReadInteger("SELECT count(*) FROM aliases"),
            c.StoredAliases);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OrganizationAliasTest,
    ::testing::Values(
        AliasCase{"FoundUnderTheQueuedAddress",
                  {{kQueued, kLink, 100}},
                  {RowOutcome::New},
                  {{kQueued, 100},
                   {"HTTPS://MIRAVA.RU/Barnaul/Firm/Motor/", 100},
                   {kLink, 100},
                   {kOther, std::nullopt}},
                  {kLink},
                  1},
        AliasCase{"NoAliasWhenTheAddressIsTheLinkInAnotherCase",
                  {{"https://mirava.ru/ORG/1001/", kLink, 100}},
                  {RowOutcome::New},
                  {{"https://mirava.ru/ORG/1001/", 100}, {kLink, 100}},
                  {kLink},
                  0},
        AliasCase{"NoAliasWhenTheAddressIsNotKnown",
                  {{"", kLink, 100}},
                  {RowOutcome::New},
                  {{kLink, 100}, {"", std::nullopt}},
                  {kLink},
                  0},
        // First written from its own address, later reached from another one.
        AliasCase{"ALaterAddressOfAKnownLinkPointsAtIt",
                  {{kLink, kLink, 100}, {kQueued, kLink, 200}, {kOther, kLink, 300}},
                  {RowOutcome::New, RowOutcome::Known, RowOutcome::Known},
                  {{kQueued, 100}, {kOther, 100}, {kLink, 100}},
                  {kLink},
                  2},
        // The site no longer redirects: the page at the queued address is the one it led to.
        AliasCase{"ALinkKnownAsAQueuedAddressIsThatOrganization",
                  {{kQueued, kLink, 100}, {kQueued, kQueued, 200}},
                  {RowOutcome::New, RowOutcome::Changed},
                  {{kQueued, 100}, {kLink, 100}},
                  {kQueued},
                  1},
        AliasCase{"AnAddressPointsAtTheOrganizationItLedToLast",
                  {{kQueued, kLink, 100}, {kQueued, kSecondLink, 200}},
                  {RowOutcome::New, RowOutcome::New},
                  {{kQueued, 200}, {kLink, 100}, {kSecondLink, 200}},
                  {kLink, kSecondLink},
                  1},
        AliasCase{"AnOrganizationsOwnAddressGoesFirst",
                  {{kLink, kLink, 100}, {kLink, kSecondLink, 200}},
                  {RowOutcome::New, RowOutcome::New},
                  {{kLink, 100}, {kSecondLink, 200}},
                  {kLink, kSecondLink},
                  1}),
    [](const ::testing::TestParamInfo<AliasCase>& info) { return info.param.Name; });

TEST_F(OrganizationBaseTest, TellsWhichOrganizationsARunWroteFirst) {
  OrganizationBase base(path_);
  EXPECT_THAT(base.FirstWrittenBy("data1.tab"), IsEmpty());
  EXPECT_EQ(base.OrganizationCount(), 0);
  const std::string a = "https://mirava.ru/org/1001/";
  const std::string b = "https://mirava.ru/org/1002/";
  const std::vector<analysis::OrganizationRow> first = {Row(a), Row(b)};
  base.RecordRows("data1.tab", first, 1000);
  // Known ones are not the second run's, changed or not; new ones are, under their folded link,
  // also when reached from another address.
  const std::vector<RecordedRow> second = {
      {a, Row(a)},
      {b, Row(b, "+7 (3852) 99-99-99")},
      {"https://mirava.ru/barnaul/firm/1003/", Row("https://mirava.ru/Org/1003/")},
      {"https://mirava.ru/org/1004/", Row("https://mirava.ru/org/1004/")}};
  base.RecordRows("data2.tab", second, 2000);

  EXPECT_EQ(base.FirstWrittenBy("data1.tab"), (std::unordered_set<std::string>{a, b}));
  EXPECT_EQ(base.FirstWrittenBy("data2.tab"),
            (std::unordered_set<std::string>{"https://mirava.ru/org/1003/",
                                             "https://mirava.ru/org/1004/"}));
  EXPECT_THAT(base.FirstWrittenBy("data3.tab"), IsEmpty());
  EXPECT_EQ(base.OrganizationCount(), 4);
}

TEST_F(OrganizationBaseTest, ListsByFirstSightingThenByEntryAndFromAGivenTime) {
  OrganizationBase base(path_);
  const auto record = [&](const std::string& run, EpochSeconds at,
                          const std::vector<std::string>& links) {
    std::vector<analysis::OrganizationRow> rows;
    for (const std::string& link : links) {
      rows.push_back(Row("https://mirava.ru/org/" + link + "/"));
    }
    base.RecordRows(run, rows, at);
  };
  // Entry order, not the address, decides between organizations first seen at one time.
  record("data1.tab", 100, {"z", "a"});
  record("data2.tab", 200, {"m"});
  // Seen again later: still listed by its first sighting, and not among the new ones.
  record("data3.tab", 300, {"k", "z"});

  const auto links = [&](std::optional<EpochSeconds> since) {
    std::vector<std::string> names;
    for (const std::string& link : Links(List(base, since))) {
      names.push_back(link.substr(std::string("https://mirava.ru/org/").size(), 1));
    }
    return names;
  };
  EXPECT_THAT(links(std::nullopt), ElementsAre("z", "a", "m", "k"));
  EXPECT_THAT(links(0), ElementsAre("z", "a", "m", "k"));
  EXPECT_THAT(links(200), ElementsAre("m", "k"));
  EXPECT_THAT(links(201), ElementsAre("k"));
  EXPECT_THAT(links(301), IsEmpty());
}

TEST_F(OrganizationBaseTest, RecordsRunsAndAContinuedRunKeepsItsFirstStart) {
  OrganizationBase base(path_);
  base.RecordRunStart({"data1.tab", "log1.txt", "data1.xlsx", "Барнаул; Автосервисы", 1000});
  base.RecordRunEnd({"data1.tab", 1500, 40, 30, 10, 2, "Заполнено: Ссылка 100%"});
  base.RecordRunStart({"data2.tab", "log2.txt", "data2.xlsx", "Казань; Шиномонтаж", 2000});
  // data2 was broken off and continued: a new log, its first start kept.
  base.RecordRunStart({"data2.tab", "log3.txt", "data2.xlsx", "Казань; Шиномонтаж", 2600});
  // A run whose start was never recorded (begun before the base was) still gets its end.
  base.RecordRunEnd({"data0.tab", 900, 5, 5, 0, 0, ""});

  const std::vector<StoredRun> runs = base.Runs();
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_EQ(runs[0].ResultsFile, "data1.tab");
  EXPECT_EQ(runs[0].LogFile, "log1.txt");
  EXPECT_EQ(runs[0].WorkbookFile, "data1.xlsx");
  EXPECT_EQ(runs[0].Selection, "Барнаул; Автосервисы");
  EXPECT_EQ(runs[0].Started, 1000);
  EXPECT_EQ(runs[0].Ended, 1500);
  EXPECT_EQ(runs[0].Rows, 40);
  EXPECT_EQ(runs[0].New, 30);
  EXPECT_EQ(runs[0].Known, 10);
  EXPECT_EQ(runs[0].Refreshed, 2);
  EXPECT_EQ(runs[0].FieldCoverage, "Заполнено: Ссылка 100%");

  EXPECT_EQ(runs[1].ResultsFile, "data2.tab");
  EXPECT_EQ(runs[1].LogFile, "log3.txt");
  EXPECT_EQ(runs[1].Started, 2000);
  EXPECT_EQ(runs[1].Ended, std::nullopt);

  EXPECT_EQ(runs[2].ResultsFile, "data0.tab");
  EXPECT_EQ(runs[2].Started, std::nullopt);
  EXPECT_EQ(runs[2].Ended, 900);
  EXPECT_EQ(runs[2].Rows, 5);
}

}  // namespace
}  // namespace mirava::base
