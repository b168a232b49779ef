#include "output/results_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include "analysis/organization_row.h"

namespace mirava::output {
namespace {

namespace fs = std::filesystem;

const std::string kBom = "\xEF\xBB\xBF";

class ResultsFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() /
              ("mirava-results-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }

  std::string PathOf(const std::string& name) const { return (folder_ / name).string(); }

  static std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  static void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }

  fs::path folder_;
};

TEST(MakeRunFileNames, TickCountsPrintedAsSignedNumbers) {
  struct Case {
    std::uint32_t n, m;
    const char* results;
    const char* workbook;
    const char* log;
  };
  const Case cases[] = {
      {0, 0, "data0.tab", "data0.xlsx", "log0.txt"},
      {123456, 123457, "data123456.tab", "data123456.xlsx", "log123457.txt"},
      {0x7FFFFFFFu, 0x80000000u, "data2147483647.tab", "data2147483647.xlsx", "log-2147483648.txt"},
      {0xFFFFFFFFu, 0xFFFFFFFFu, "data-1.tab", "data-1.xlsx", "log-1.txt"},
  };
  for (const Case& c : cases) {
    const RunFileNames names = MakeRunFileNames(c.n, c.m);
    EXPECT_EQ(names.ResultsFileName, c.results);
    EXPECT_EQ(names.WorkbookFileName, c.workbook);
    EXPECT_EQ(names.LogFileName, c.log);
  }
}

TEST_F(ResultsFileTest, RunWithoutRowsLeavesMarkHeaderAndLineBreak) {
  const std::string path = PathOf("data1.tab");
  ResultsWriter writer(platform::CreateResultsSink(path));
  writer.WriteLine(analysis::HeaderLine());
  writer.Close();
  EXPECT_EQ(ReadAll(path), kBom + analysis::HeaderLine() + "\r\n");
}

TEST_F(ResultsFileTest, RowsFollowTheHeaderEachEndedByCrLf) {
  const std::string path = PathOf("data2.tab");
  WriteFile(path, std::string(5000, 'x'));  // left from an earlier run with the same number
  ResultsWriter writer(platform::CreateResultsSink(path));
  writer.WriteLine("\"h\"");
  writer.WriteLine("\"Кафе\"\t\"a\tb\"");
  writer.WriteLine("");
  writer.Close();
  EXPECT_EQ(ReadAll(path), kBom + "\"h\"\r\n\"Кафе\"\t\"a\tb\"\r\n\r\n");
}

TEST_F(ResultsFileTest, OthersMayReadButNotWriteWhileTheRunHasItOpen) {
  const std::string path = PathOf("data3.tab");
  ResultsWriter writer(platform::CreateResultsSink(path));
  writer.WriteLine("header");
  writer.WriteLine("row 1");

  // Every completed row is visible to a reader at once.
  EXPECT_EQ(ReadAll(path), kBom + "header\r\nrow 1\r\n");

  // A second writer is refused and must not have emptied the file.
  EXPECT_THROW(platform::CreateResultsSink(path), std::runtime_error);
  writer.WriteLine("row 2");
  EXPECT_EQ(ReadAll(path), kBom + "header\r\nrow 1\r\nrow 2\r\n");
  writer.Close();

  // Once closed, the next run may take the name again.
  ResultsWriter next(platform::CreateResultsSink(path));
  next.Close();
  EXPECT_EQ(ReadAll(path), kBom);
}

TEST_F(ResultsFileTest, FileThatCannotBeCreatedReportsTheSystemMessage) {
  try {
    platform::CreateResultsSink(PathOf("missing-folder/data4.tab"));
    FAIL() << "no error";
  } catch (const std::runtime_error& error) {
    EXPECT_NE(std::string(error.what()).find(std::strerror(ENOENT)), std::string::npos)
        << error.what();
  }
}

// A stream that takes a fixed number of writes and refuses the rest, as a full disk would.
class RefusingSink : public platform::IByteSink {
 public:
  RefusingSink(std::string* bytes, int writes) : bytes_(bytes), writes_left_(writes) {}
  void Write(std::string_view bytes) override {
    if (writes_left_-- <= 0) {
      throw std::runtime_error("No space left on device");
    }
    bytes_->append(bytes);
  }
  void Close() override {}

 private:
  std::string* bytes_;
  int writes_left_;
};

TEST(ResultsWriter, RefusedWriteIsReportedAndEarlierLinesStay) {
  std::string written;
  ResultsWriter writer(std::make_unique<RefusingSink>(&written, 3));
  writer.WriteLine("header");
  writer.WriteLine("row 1");
  try {
    writer.WriteLine("row 2");
    FAIL() << "refused write passed unnoticed";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "No space left on device");
  }
  EXPECT_EQ(written, kBom + "header\r\nrow 1\r\n");
}

TEST_F(ResultsFileTest, WriteBeyondTheFileSizeLimitFailsAndLeavesWholeLines) {
  const std::string path = PathOf("data5.tab");
  ResultsWriter writer(platform::CreateResultsSink(path));
  writer.WriteLine("header");

  // The system refuses bytes past the limit with EFBIG once the signal is ignored.
  const auto previous_handler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit previous_limit{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &previous_limit), 0);
  rlimit limit = previous_limit;
  limit.rlim_cur = 64;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);

  std::string error_text;
  try {
    writer.WriteLine("row 1");
    writer.WriteLine(std::string(100, 'x'));  // only part of it fits
  } catch (const std::runtime_error& error) {
    error_text = error.what();
  }
  ::setrlimit(RLIMIT_FSIZE, &previous_limit);
  std::signal(SIGXFSZ, previous_handler);

  EXPECT_NE(error_text.find(std::strerror(EFBIG)), std::string::npos) << error_text;
  // The part that fit was taken back, so the file still ends with a whole line.
  EXPECT_EQ(ReadAll(path), kBom + "header\r\nrow 1\r\n");
  writer.WriteLine("row 2");
  writer.Close();
  EXPECT_EQ(ReadAll(path), kBom + "header\r\nrow 1\r\nrow 2\r\n");
}

TEST_F(ResultsFileTest, RunLogLinesEndWithCrLfWithoutByteOrderMark) {
  struct Case {
    const char* name;
    std::string pane;
    std::string expected;
  };
  const Case cases[] = {
      {"empty pane", "", ""},
      {"last line without break",
       "01.02.2024 10:00:00: Начинаем работу...\nРабота завершена, лог записан в /x/log1.txt",
       "01.02.2024 10:00:00: Начинаем работу...\r\nРабота завершена, лог записан в "
       "/x/log1.txt\r\n"},
      {"last line with break", "a\n", "a\r\n"},
      {"empty lines kept", "a\n\nb", "a\r\n\r\nb\r\n"},
      {"lines already ending in CR", "a\r\nb\r\n", "a\r\nb\r\n"},
  };
  const std::string path = PathOf("log1.txt");
  WriteFile(path, std::string(300, 'o'));  // replaced, not appended to
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SaveRunLog(path, c.pane);
    EXPECT_EQ(ReadAll(path), c.expected);
  }
}

TEST_F(ResultsFileTest, RunLogThatCannotBeWrittenReportsTheSystemMessage) {
  const auto message_of = [](const std::string& path) {
    try {
      SaveRunLog(path, "line");
    } catch (const std::runtime_error& error) {
      return std::string(error.what());
    }
    return std::string("no error");
  };
  EXPECT_NE(message_of(PathOf("missing/log.txt")).find(std::strerror(ENOENT)), std::string::npos);
  // A full disk reads in Russian.
  if (fs::exists("/dev/full")) {
    EXPECT_EQ(message_of("/dev/full"), "/dev/full: Нет места на диске");
  }
}

}  // namespace
}  // namespace mirava::output
