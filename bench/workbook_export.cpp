// Conversion of a results file into a workbook: rows per second and the memory the conversion
// needs on top of what the process already held (peak resident set, reset before each run).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "output/workbook_export.h"

namespace {

namespace fs = std::filesystem;

// A row as long and as Cyrillic as a real one, about 450 bytes.
std::string Row(int i) {
  const std::string n = std::to_string(i);
  const std::string values[] = {"https://mirava.ru/moskva/org/ooo-romashka-" + n + "/",
                                "Кафе и рестораны",
                                "ООО «Ромашка-" + n + "»",
                                "г. Москва, ул. Большая Садовая, д. 10, стр. 2, офис " + n,
                                "Москва",
                                "+7 (495) 123-45-" + std::to_string(i % 100),
                                "https://wa.me/7916" + n,
                                "https://t.me/romashka_" + n,
                                "romashka" + n,
                                "https://romashka-" + n + ".ru/",
                                "https://vk.com/romashka" + n,
                                "https://t.me/romashka_news"};
  std::string line;
  for (const std::string& value : values) {
    line += (line.empty() ? "\"" : "\t\"") + value + "\"";
  }
  return line + "\r\n";
}

std::string MakeResultsFile(const fs::path& folder, int rows) {
  const std::string path = (folder / ("data" + std::to_string(rows) + ".tab")).string();
  std::ofstream out(path, std::ios::binary);
  out << "\xEF\xBB\xBF\"Ссылка\"\t\"Имя рубрики\"\t\"Организация\"\t\"Адрес\"\t\"Город\"\t"
         "\"Телефон\"\t\"WhatsApp\"\t\"Telegram\"\t\"Max\"\t\"Сайт\"\t\"VK\"\t\"TG\"\r\n";
  for (int i = 0; i < rows; ++i) {
    out << Row(i);
  }
  return path;
}

// A line of /proc/self/status in kB, e.g. "VmHWM".
double StatusKilobytes(const std::string& key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(key + ":", 0) == 0) {
      std::istringstream value(line.substr(key.size() + 1));
      double kilobytes = 0;
      value >> kilobytes;
      return kilobytes;
    }
  }
  return 0;
}

void ResetPeakResidentSet() {
  std::ofstream("/proc/self/clear_refs") << "5";
}

void BM_ConvertResultsToWorkbook(benchmark::State& state) {
  const int rows = static_cast<int>(state.range(0));
  std::string folder_name = (fs::temp_directory_path() / "mirava-bench-XXXXXX").string();
  if (mkdtemp(folder_name.data()) == nullptr) {
    state.SkipWithError("mkdtemp failed");
    return;
  }
  const fs::path folder = folder_name;
  const std::string results = MakeResultsFile(folder, rows);
  const std::string workbook = (folder / "data.xlsx").string();

  double peak_growth_kb = 0;
  for (auto _ : state) {
    ResetPeakResidentSet();
    const double before_kb = StatusKilobytes("VmRSS");
    benchmark::DoNotOptimize(mirava::output::ConvertResultsToWorkbook(results, workbook));
    peak_growth_kb = std::max(peak_growth_kb, StatusKilobytes("VmHWM") - before_kb);
  }

  state.counters["rows_per_s"] =
      benchmark::Counter(static_cast<double>(rows) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
  state.counters["file_MiB"] = static_cast<double>(fs::file_size(results)) / (1024.0 * 1024.0);
  state.counters["workbook_MiB"] = static_cast<double>(fs::file_size(workbook)) / (1024.0 * 1024.0);
  state.counters["peak_growth_MiB"] = peak_growth_kb / 1024.0;
  fs::remove_all(folder);
}

BENCHMARK(BM_ConvertResultsToWorkbook)
    ->Arg(10'000)
    ->Arg(100'000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
