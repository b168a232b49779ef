// The desktop's "open": a detached opener that the caller never waits for.
#include "platform/desktop_open.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/temp_folder.h"

namespace mirava::platform {
namespace {

namespace fs = std::filesystem;

using testing::ReadFile;
using testing::WriteFile;

// Its own folder for every test.
class TempFolder : public testing::TempFolder {
 public:
  TempFolder() : testing::TempFolder("mirava-open") {}
};

std::vector<std::string> FolderEntries(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The desktop opener is replaced by a script that records how it was started and then waits
// until the test releases it, so a caller that waited for it would be caught.
TEST(OpenWithDesktop, StartsTheOpenerDetachedWithThePath) {
  TempFolder folder;
  const std::string record = folder / "record";
  const std::string release = folder / "release";
  const std::string finished = folder / "finished";
  WriteFile(folder / "xdg-open", R"(#!/bin/sh
dir=$(dirname "$0")
in=$(readlink /proc/$$/fd/0); out=$(readlink /proc/$$/fd/1); err=$(readlink /proc/$$/fd/2)
printf '%s\n' "$1" "$$" "$in" "$out" "$err" > "$dir/record.tmp"
mv "$dir/record.tmp" "$dir/record"
i=0
while [ ! -e "$dir/release" ] && [ $i -lt 200 ]; do sleep 0.05; i=$((i+1)); done
touch "$dir/finished"
)");
  ASSERT_EQ(::chmod((folder / "xdg-open").c_str(), 0755), 0);

  const char* old_path = std::getenv("PATH");
  const std::string saved_path = old_path != nullptr ? old_path : "/usr/bin:/bin";
  ::setenv("PATH", (folder.Path().string() + ":" + saved_path).c_str(), 1);
  const std::string workbook = folder / "Мой файл 1.xlsx";
  OpenWithDesktop(workbook);
  ::setenv("PATH", saved_path.c_str(), 1);

  // No child of ours is left behind, running or as a zombie.
  errno = 0;
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);

  for (int i = 0; i < 200 && !fs::exists(record); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  std::istringstream lines(ReadFile(record));
  std::string argument, pid, in, out, err;
  std::getline(lines, argument);
  std::getline(lines, pid);
  std::getline(lines, in);
  std::getline(lines, out);
  std::getline(lines, err);
  EXPECT_EQ(argument, workbook);
  EXPECT_EQ(in, "/dev/null");
  EXPECT_EQ(out, "/dev/null");
  EXPECT_EQ(err, "/dev/null");
  ASSERT_FALSE(pid.empty());
  const pid_t opener_session = ::getsid(std::stoi(pid));
  EXPECT_NE(opener_session, -1);
  EXPECT_NE(opener_session, ::getsid(0));
  EXPECT_FALSE(fs::exists(finished)) << "returned only after the opener had finished";

  WriteFile(release, "");
  for (int i = 0; i < 200 && !fs::exists(finished); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

TEST(OpenWithDesktop, WithoutAnOpenerNothingHappens) {
  TempFolder folder;
  const char* old_path = std::getenv("PATH");
  const std::string saved_path = old_path != nullptr ? old_path : "/usr/bin:/bin";
  ::setenv("PATH", folder.Path().c_str(), 1);
  OpenWithDesktop(folder / "data.xlsx");
  ::setenv("PATH", saved_path.c_str(), 1);
  EXPECT_TRUE(FolderEntries(folder.Path()).empty());
}

}  // namespace
}  // namespace mirava::platform
