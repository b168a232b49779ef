// Opening the base file: creation and migration, refusals, damaged files left untouched, a base
// held by another copy.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "analysis/organization_row.h"
#include "base/base_error.h"
#include "base/organization_base.h"
#include "base/schema.h"
#include "base/sqlite_connection.h"
#include "tests/base/base_folder.h"

namespace mirava::base {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

analysis::OrganizationRow Row(int n) {
  analysis::OrganizationRow row;
  row[analysis::kLinkColumn] = "https://mirava.ru/org/" + std::to_string(4100000 + n) + "/";
  row[analysis::kCategoryColumn] = "Автосервисы";
  row[analysis::kOrganizationColumn] = "Автосервис «Колесо» " + std::to_string(n);
  row[analysis::kAddressColumn] = "Барнаул, пр-т Ленина, " + std::to_string(n % 200);
  row[analysis::kCityColumn] = "Барнаул";
  row[analysis::kPhoneColumn] = "+7 (3852) 20-" + std::to_string(10 + n % 90) + "-40";
  return row;
}

std::vector<analysis::OrganizationRow> Rows(int from, int count) {
  std::vector<analysis::OrganizationRow> rows;
  for (int n = from; n < from + count; ++n) {
    rows.push_back(Row(n));
  }
  return rows;
}

// The error `work` throws; fails the test when it throws none.
BaseError ErrorOf(const std::function<void()>& work) {
  try {
    work();
  } catch (const BaseError& error) {
    return error;
  }
  ADD_FAILURE() << "no BaseError";
  return BaseError(BaseProblem::Failed, "", "");
}

class BaseFileTest : public ::testing::Test {
 protected:
  // A closed base with a few hundred rows over many pages.
  std::string RealBaseBytes() {
    const std::string path = folder_.File("real.db");
    {
      OrganizationBase base(path);
      base.RecordRows("data1.tab", Rows(0, 600), 1000);
    }
    return ReadBytes(path);
  }

  std::int64_t UserVersion(const std::string& path) {
    return Connection(path, kBusyTimeout).ReadInteger("PRAGMA user_version");
  }

  BaseFolder folder_;
  const std::string path_ = folder_.File("organizations.db");
};

TEST_F(BaseFileTest, AMissingOrEmptyFileBecomesAnEmptyBaseOfTheCurrentVersion) {
  const std::string empty = folder_.File("empty.db");
  WriteBytes(empty, "");
  for (const std::string& path : {path_, empty}) {
    SCOPED_TRACE(path);
    {
      OrganizationBase base(path);
      EXPECT_THAT(base.RecordRows("data1.tab", Rows(0, 1), 10),
                  ::testing::ElementsAre(RowOutcome::New));
    }
    EXPECT_EQ(UserVersion(path), kSchemaVersion);
    EXPECT_EQ(Connection(path, kBusyTimeout).ReadText("PRAGMA journal_mode"), "wal");
    // Opened again, it is taken as it is.
    OrganizationBase again(path);
    EXPECT_TRUE(again.Find(Row(0)[analysis::kLinkColumn]));
  }
}

TEST_F(BaseFileTest, ABaseInAFolderWithACyrillicNameOpens) {
  const std::string folder = folder_.File("Базы организаций");
  std::filesystem::create_directory(BaseFolder::Native(folder));
  const std::string path = folder_.File("Базы организаций/organizations.db");
  {
    OrganizationBase base(path);
    base.RecordRows("data1.tab", Rows(0, 2), 10);
  }
  EXPECT_TRUE(std::filesystem::exists(BaseFolder::Native(path)));
  OrganizationBase base(path);
  EXPECT_TRUE(base.Find(Row(1)[analysis::kLinkColumn]));
}

TEST_F(BaseFileTest, RefusesANewerBaseAndAnotherProgramsDatabaseWithoutWritingIntoThem) {
  struct Case {
    const char* Name;
    const char* Sql;
    BaseProblem Problem;
    const char* Reason;
  };
  const std::string newer = "PRAGMA user_version = " + std::to_string(kSchemaVersion + 1);
  const Case cases[] = {
      {"newer", newer.c_str(), BaseProblem::TooNew, "более новая версия программы"},
      {"foreign", "CREATE TABLE notes (text TEXT); INSERT INTO notes VALUES ('x')",
       BaseProblem::Foreign, "другой программы"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string path = folder_.File(std::string(c.Name) + ".db");
    if (c.Problem == BaseProblem::TooNew) {
      OrganizationBase made(path);
    }
    Connection(path, kBusyTimeout).Execute(c.Sql);
    const std::string before = ReadBytes(path);

    const BaseError error = ErrorOf([&] { OrganizationBase base(path); });
    EXPECT_EQ(error.Problem(), c.Problem);
    EXPECT_THAT(error.what(), StartsWith("База организаций " + path + " недоступна: "));
    EXPECT_THAT(error.what(), HasSubstr(c.Reason));
    EXPECT_TRUE(ReadBytes(path) == before) << "the file was changed";
  }
}

std::string RandomBytes(std::size_t size, std::uint32_t seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& byte : bytes) {
    byte = static_cast<char>(random() & 0xff);
  }
  return bytes;
}

TEST_F(BaseFileTest, ADamagedFileIsRefusedAndLeftByteForByteAsItWas) {
  const std::string real = RealBaseBytes();
  ASSERT_GT(real.size(), 16u * 4096u);
  const std::size_t page = 4096;
  const auto overwritten = [&](std::size_t at, std::size_t size) {
    std::string bytes = real;
    bytes.replace(at, size, RandomBytes(size, 7));
    return bytes;
  };
  struct Case {
    const char* Name;
    std::string Bytes;
  };
  const Case cases[] = {
      {"random bytes", RandomBytes(64 * 1024, 1)},
      {"a few random bytes", RandomBytes(37, 2)},
      {"text", "Организация\tАдрес\r\n"},
      {"cut inside the header", real.substr(0, 60)},
      {"cut after the first page", real.substr(0, page)},
      {"cut in half", real.substr(0, real.size() / 2)},
      {"cut by one page", real.substr(0, real.size() - page)},
      {"cut inside a page", real.substr(0, real.size() - 1000)},
      {"a page in the middle overwritten", overwritten(real.size() / page / 2 * page, page)},
      {"the header overwritten", overwritten(0, 100)},
  };
  int number = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    // A file of its own, so no case meets what an earlier one may have left beside its file.
    const std::string path = folder_.File("damaged" + std::to_string(++number) + ".db");
    WriteBytes(path, c.Bytes);

    const BaseError error = ErrorOf([&] { OrganizationBase base(path); });
    EXPECT_EQ(error.Problem(), BaseProblem::Damaged);
    EXPECT_THAT(error.what(), StartsWith("База организаций " + path + " недоступна: "));
    EXPECT_THAT(error.what(), HasSubstr("повреждён"));
    EXPECT_TRUE(ReadBytes(path) == c.Bytes) << "the file was changed";
  }
}

TEST_F(BaseFileTest, APathThatCannotHoldABaseIsRefused) {
  const std::string folder = folder_.File("a folder");
  std::filesystem::create_directory(BaseFolder::Native(folder));
  for (const std::string& path : {folder_.File("missing/organizations.db"), folder}) {
    SCOPED_TRACE(path);
    const BaseError error = ErrorOf([&] { OrganizationBase base(path); });
    EXPECT_EQ(error.Problem(), BaseProblem::Failed);
    EXPECT_THAT(error.what(), StartsWith("База организаций " + path + " недоступна: "));
  }
}

TEST_F(BaseFileTest, ABaseHeldByAnotherCopyPastTheBusyTimeOutFailsAndTheBatchLeavesNothing) {
  OrganizationBase base(path_, BaseOptions{std::chrono::milliseconds(50)});
  {
    // Another copy in the middle of its own write.
    Connection other(path_, kBusyTimeout);
    other.Execute("BEGIN IMMEDIATE");

    const BaseError error = ErrorOf([&] { base.RecordRows("data1.tab", Rows(0, 3), 10); });
    EXPECT_EQ(error.Problem(), BaseProblem::Busy);
    EXPECT_THAT(error.what(), HasSubstr("занята другой копией программы"));
    const BaseError start = ErrorOf([&] { base.RecordRunStart({"data1.tab", "", "", "", 10}); });
    EXPECT_EQ(start.Problem(), BaseProblem::Busy);
    // Reading does not wait for a writer.
    EXPECT_FALSE(base.Find(Row(0)[analysis::kLinkColumn]));
    other.Execute("ROLLBACK");
  }
  EXPECT_THAT(base.RecordRows("data1.tab", Rows(0, 3), 10), ::testing::Each(RowOutcome::New));
}

}  // namespace
}  // namespace mirava::base
