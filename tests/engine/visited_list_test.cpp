#include "engine/visited_list.h"

#include <gtest/gtest.h>

namespace mirava::engine {
namespace {

TEST(VisitedListTest, AddressesThatDifferOnlyInLetterCaseCountOnce) {
  VisitedList visited;
  EXPECT_TRUE(visited.Add("https://mirava.ru/moskva/Kafe/"));
  EXPECT_FALSE(visited.Add("HTTPS://MIRAVA.RU/MOSKVA/kafe/"));
  EXPECT_TRUE(visited.Add("https://mirava.ru/Москва/Ёлки"));
  EXPECT_FALSE(visited.Add("https://mirava.ru/москва/ёлки"));
  EXPECT_TRUE(visited.Contains("https://mirava.ru/МОСКВА/ЁЛКИ"));
  EXPECT_EQ(visited.Count(), 2u);
}

TEST(VisitedListTest, DistinctAddressesAreAllKept) {
  VisitedList visited;
  EXPECT_TRUE(visited.Add("https://mirava.ru/a/"));
  EXPECT_TRUE(visited.Add("https://mirava.ru/a"));
  EXPECT_TRUE(visited.Add("https://mirava.ru/a/?page=2"));
  EXPECT_TRUE(visited.Add(""));
  EXPECT_FALSE(visited.Add(""));
  EXPECT_FALSE(visited.Contains("https://mirava.ru/b/"));
  EXPECT_EQ(visited.Count(), 4u);
}

}  // namespace
}  // namespace mirava::engine
