// Runs a fuzz target once on every file of the folders (or files) given, as libFuzzer does when
// replaying a corpus: a failed check aborts, so ctest reports the input that broke it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

void RunOne(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::fprintf(stderr, "replaying %s (%zu bytes)\n", path.string().c_str(), bytes.size());
  // A private copy, so reading past the input is caught by the sanitizers.
  std::vector<std::uint8_t> copy(bytes.begin(), bytes.end());
  LLVMFuzzerTestOneInput(copy.data(), copy.size());
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t count = 0;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path path(argv[i]);
    if (std::filesystem::is_directory(path)) {
      for (const auto& entry : std::filesystem::directory_iterator(path)) {
        if (entry.is_regular_file() && entry.path().filename().string()[0] != '.') {
          RunOne(entry.path());
          ++count;
        }
      }
    } else if (std::filesystem::is_regular_file(path)) {
      RunOne(path);
      ++count;
    }
  }
  std::fprintf(stderr, "%zu inputs replayed\n", count);
  return 0;
}
