#pragma once
// A fresh folder for one test's bases under the test's temporary folder, removed at the end, and
// whole-file reads and writes. Standard library only, so the Windows build runs it as it is.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

namespace mirava::base {

class BaseFolder {
 public:
  BaseFolder() {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("mirava-base-") + test->test_suite_name() + "-" + test->name();
    for (char& c : name) {
      if (c == '/') {
        c = '-';
      }
    }
    path_ = std::filesystem::path(::testing::TempDir()) /
            (name + "-" + std::to_string(std::random_device()()));
    std::filesystem::create_directories(path_);
  }
  ~BaseFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  BaseFolder(const BaseFolder&) = delete;
  BaseFolder& operator=(const BaseFolder&) = delete;

  // The UTF-8 path of `name` (UTF-8) in the folder, as the base takes it.
  std::string File(const std::string& name) const { return Utf8(path_ / Native(name)); }

  static std::filesystem::path Native(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
  }
  static std::string Utf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
  }

 private:
  std::filesystem::path path_;
};

inline std::string ReadBytes(const std::string& utf8_path) {
  std::ifstream in(BaseFolder::Native(utf8_path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& utf8_path, const std::string& bytes) {
  std::ofstream out(BaseFolder::Native(utf8_path), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << utf8_path;
}

}  // namespace mirava::base
