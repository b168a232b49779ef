// Two copies of the program running in one output folder share its base.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <exception>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "analysis/organization_row.h"
#include "base/organization_base.h"
#include "tests/base/base_folder.h"

namespace mirava::base {
namespace {

analysis::OrganizationRow Row(int n) {
  analysis::OrganizationRow row;
  row[analysis::kLinkColumn] = "https://mirava.ru/org/" + std::to_string(n) + "/";
  row[analysis::kOrganizationColumn] = "Шиномонтаж " + std::to_string(n);
  return row;
}

// Each copy writes its batches from its own thread over its own connection: organizations of its
// own and, every batch, one that the other copy writes as well.
struct Copy {
  std::string Run;
  int First = 0;
  std::vector<RowOutcome> SharedOutcomes;
};

constexpr int kBatches = 150;
constexpr int kRowsPerBatch = 4;
constexpr int kShared = 1000000;

void WriteBatches(OrganizationBase& base, Copy& copy) {
  for (int batch = 0; batch < kBatches; ++batch) {
    std::vector<analysis::OrganizationRow> rows;
    for (int i = 0; i < kRowsPerBatch; ++i) {
      rows.push_back(Row(copy.First + batch * kRowsPerBatch + i));
    }
    rows.push_back(Row(kShared + batch));
    copy.SharedOutcomes.push_back(base.RecordRows(copy.Run, rows, 100 + batch).back());
  }
}

// Runs both at once, each on a thread of its own; what either throws is a failure of the test.
void AtOnce(const std::function<void()>& one, const std::function<void()>& other) {
  std::string errors[2];
  const auto guarded = [](const std::function<void()>& work, std::string& error) {
    try {
      work();
    } catch (const std::exception& e) {
      error = e.what();
    }
  };
  std::thread first(guarded, std::cref(one), std::ref(errors[0]));
  std::thread second(guarded, std::cref(other), std::ref(errors[1]));
  first.join();
  second.join();
  EXPECT_EQ(errors[0], "");
  EXPECT_EQ(errors[1], "");
}

TEST(TwoCopiesTest, BothWriteTheirBatchesIntoOneBase) {
  BaseFolder folder;
  const std::string path = folder.File("organizations.db");
  OrganizationBase first_base(path);
  OrganizationBase second_base(path);
  Copy first{"data1.tab", 0, {}};
  Copy second{"data2.tab", 500000, {}};
  AtOnce([&] { WriteBatches(first_base, first); }, [&] { WriteBatches(second_base, second); });
  ASSERT_EQ(first.SharedOutcomes.size(), static_cast<std::size_t>(kBatches));
  ASSERT_EQ(second.SharedOutcomes.size(), static_cast<std::size_t>(kBatches));

  std::set<std::string> links;
  OrganizationBase reader(path);
  reader.ListOrganizations(std::nullopt, [&](const StoredOrganization& organization) {
    links.insert(organization.Row[analysis::kLinkColumn]);
  });
  EXPECT_EQ(links.size(), 2u * kBatches * kRowsPerBatch + kBatches);
  for (int batch = 0; batch < kBatches; ++batch) {
    // The organization both wrote is new to exactly one of them.
    EXPECT_NE(first.SharedOutcomes[batch] == RowOutcome::New,
              second.SharedOutcomes[batch] == RowOutcome::New)
        << batch;
  }
}

TEST(TwoCopiesTest, BothStartInAFolderWithoutABase) {
  // The two meet while creating the base for a moment only; many rounds give them the chance.
  for (int round = 0; round < 100; ++round) {
    BaseFolder folder;
    const std::string path = folder.File("organizations.db");
    std::unique_ptr<OrganizationBase> one;
    std::unique_ptr<OrganizationBase> other;
    AtOnce([&] { one = std::make_unique<OrganizationBase>(path); },
           [&] { other = std::make_unique<OrganizationBase>(path); });
    ASSERT_TRUE(one && other) << "round " << round;
    const std::vector<analysis::OrganizationRow> rows = {Row(1)};
    EXPECT_THAT(one->RecordRows("data1.tab", rows, 10), ::testing::ElementsAre(RowOutcome::New));
    EXPECT_THAT(other->RecordRows("data2.tab", rows, 20),
                ::testing::ElementsAre(RowOutcome::Known));
  }
}

}  // namespace
}  // namespace mirava::base
