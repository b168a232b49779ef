#include "config/settings.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "config/ini_file.h"
#include "platform/file_access.h"

namespace mirava::config {
namespace {

namespace fs = std::filesystem;

// A fresh folder per test, removed afterwards.
class TempFolder {
 public:
  TempFolder() {
    path_ = fs::temp_directory_path() /
            ("mirava-config-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++));
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  static inline int counter_ = 0;
  fs::path path_;
};

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string ReadBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    return "<missing>";
  }
  return std::string(std::istreambuf_iterator<char>(file), {});
}

struct IntegerCase {
  const char* Name;
  std::string File;
  int Expected;
};

class ReadsIntegers : public ::testing::TestWithParam<IntegerCase> {};

TEST_P(ReadsIntegers, ThreadsKey) {
  const IniDocument ini(GetParam().File);
  EXPECT_EQ(ini.ReadInteger("Settings", "Threads", 99), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Ini, ReadsIntegers,
    ::testing::Values(
        IntegerCase{"plain", "[Settings]\r\nThreads=12\r\n", 12},
        IntegerCase{"blanks_around", "[Settings]\r\nThreads =  7 \r\n", 7},
        IntegerCase{"names_ignore_case", "[settings]\nTHREADS=3\n", 3},
        IntegerCase{"signs", "[Settings]\nThreads=-4\n", -4},
        IntegerCase{"absent_key", "[Settings]\nInterval=4\n", 99},
        IntegerCase{"other_section", "[Other]\nThreads=4\n", 99},
        IntegerCase{"not_a_number", "[Settings]\nThreads=abc\n", 99},
        IntegerCase{"trailing_letters", "[Settings]\nThreads=12abc\n", 99},
        IntegerCase{"empty", "[Settings]\nThreads=\n", 99},
        IntegerCase{"too_large", "[Settings]\nThreads=99999999999\n", 99},
        IntegerCase{"first_section_wins", "[Settings]\nThreads=1\n[Settings]\nThreads=2\n", 1},
        IntegerCase{"after_a_byte_order_mark", "\xEF\xBB\xBF[Settings]\nThreads=5\n", 5},
        IntegerCase{"comment_is_no_key", "[Settings]\n;Threads=5\n", 99}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(Settings, DefaultsWithoutFile) {
  TempFolder folder;
  const StoredSettings stored = ReadSettings(folder.File("settings.ini"));
  EXPECT_FALSE(stored.UseProxy);
  EXPECT_EQ(stored.Threads, 1);
  EXPECT_FALSE(stored.Interval.has_value());
}

TEST(Settings, AnyNonZeroUseProxyMeansTicked) {
  TempFolder folder;
  const std::string path = folder.File("settings.ini");
  WriteBytes(path, "[Settings]\r\nUseProxy=2\r\nInterval=x\r\n");
  const StoredSettings stored = ReadSettings(path);
  EXPECT_TRUE(stored.UseProxy);
  EXPECT_FALSE(stored.Interval.has_value());
}

// Everything but the three keys survives byte for byte: other sections, comments, other keys,
// LF line ends and an unterminated last line.
TEST(Settings, WritingKeepsTheRestOfTheFile) {
  TempFolder folder;
  const std::string path = folder.File("settings.ini");
  WriteBytes(path, "; kept\n[Window]\nLeft=5\n\n[settings]\nthreads=5\nOther=x\n\n[Tail]\nKey=v");
  for (const auto& [key, value] :
       {std::pair{"UseProxy", 1}, std::pair{"Threads", 40}, std::pair{"Interval", 0}}) {
    WriteSetting(path, key, value);
  }
  EXPECT_EQ(ReadBytes(path),
            "; kept\n[Window]\nLeft=5\n\n[settings]\nThreads=40\nOther=x\n"
            "UseProxy=1\r\nInterval=0\r\n\n[Tail]\nKey=v");
}

TEST(Settings, WritingCreatesAMissingFile) {
  TempFolder folder;
  const std::string path = folder.File("settings.ini");
  WriteSetting(path, "UseProxy", 0);
  WriteSetting(path, "Threads", 3);
  EXPECT_EQ(ReadBytes(path), "[Settings]\r\nUseProxy=0\r\nThreads=3\r\n");

  WriteBytes(path, "[Other]\r\nA=1");
  WriteSetting(path, "Interval", 10);
  EXPECT_EQ(ReadBytes(path), "[Other]\r\nA=1\r\n\r\n[Settings]\r\nInterval=10\r\n");
}

// A settings.ini that cannot be replaced (here a folder of that name) is reported with its
// name, and no temporary file is left behind.
TEST(Settings, UnwritableFileThrowsWithItsName) {
  TempFolder folder;
  const std::string path = folder.File("settings.ini");
  fs::create_directory(path);
  try {
    WriteSetting(path, "Threads", 2);
    FAIL() << "no error";
  } catch (const platform::FileError& error) {
    EXPECT_EQ(error.Path(), path);
    EXPECT_FALSE(error.Reason().empty());
  }
  EXPECT_FALSE(fs::exists(path + ".tmp"));
}

}  // namespace
}  // namespace mirava::config
