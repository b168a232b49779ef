// The window's memory over a long run: a local site serves organization pages (in a process of
// its own, so the site's records of what it served stay out of the figure), the window crawls
// them at interval 0 with 8 workers, and the resident memory is read once the log pane is full
// and again at the end. Goal: under 0.3 KB per organization, so a run of a million fits in
// 300 MB.
//
//   bench_window_memory                      20,000 organizations (about a minute)
//   bench_window_memory --organizations=N
#include <benchmark/benchmark.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QProgressBar>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "app/main_form.h"
#include "engine/http_client.h"
#include "platform/clock.h"
#include "tests/support/fake_site.h"
#include "tests/support/site_pages.h"

namespace {

using namespace mirava;

constexpr int kCategories = 100;
// Two lines an organization ("Запускаем" and "успешно"): the pane holds its 10,000 lines well
// before this.
constexpr int kPaneFullAt = 6000;

int g_organizations = 20000;
int g_site_port = 0;

double ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0;
  long resident = 0;
  statm >> pages >> resident;
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE));
}

// The site, in a child process that ends when the benchmark closes its end of the pipe.
pid_t StartSite() {
  int port_pipe[2];
  int life_pipe[2];
  if (pipe(port_pipe) != 0 || pipe(life_pipe) != 0) {
    std::perror("pipe");
    std::exit(1);
  }
  const pid_t child = fork();
  if (child == 0) {
    close(port_pipe[0]);
    close(life_pipe[1]);
    testing::FakeSite site;
    site.SetFallback(
        testing::FakeResponse::Page(testing::OrganizationPage(testing::SampleOrganization(7))));
    const int port = site.Port();
    if (write(port_pipe[1], &port, sizeof port) != sizeof port) {
      _exit(1);
    }
    char byte;
    while (read(life_pipe[0], &byte, 1) > 0) {
    }
    _exit(0);
  }
  close(port_pipe[1]);
  close(life_pipe[0]);
  if (read(port_pipe[0], &g_site_port, sizeof g_site_port) != sizeof g_site_port) {
    std::fprintf(stderr, "the site did not start\n");
    std::exit(1);
  }
  return child;
}

void Write(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

void BM_WindowMemoryPerOrganization(benchmark::State& state) {
  const int organizations = static_cast<int>(state.range(0));
  const int cities = (organizations + kCategories - 1) / kCategories;
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("mirava-window-memory-" + std::to_string(getpid()));
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  const std::string origin = "http://127.0.0.1:" + std::to_string(g_site_port);
  std::string city_lines = "\xEF\xBB\xBF";
  std::string city_selection;
  for (int city = 0; city < cities; ++city) {
    city_lines += "c" + std::to_string(city) + "=" + origin + "/c" + std::to_string(city) + "\r\n";
    city_selection += "c" + std::to_string(city) + "\r\n";
  }
  std::string category_lines = "\xEF\xBB\xBF";
  std::string category_selection = "\xEF\xBB\xBF";
  for (int category = 0; category < kCategories; ++category) {
    category_lines +=
        "k" + std::to_string(category) + "=/org/" + std::to_string(category) + "/\r\n";
    category_selection += "k" + std::to_string(category) + "\r\n";
  }
  Write(folder / "cities.txt", city_lines);
  Write(folder / "categories.txt", category_lines);
  Write(folder / "selection1.txt", city_selection);
  Write(folder / "selection2.txt", category_selection);
  Write(folder / "settings.ini", "[Settings]\r\nThreads=8\r\nInterval=0\r\n");

  for (auto _ : state) {
    app::MainFormEnvironment environment;
    environment.Folder = folder.string() + "/";
    environment.Run.Clock = platform::MakeSystemClock();
    environment.Run.Pacing = std::make_shared<engine::PacingState>();
    environment.Run.Rotation = std::make_shared<engine::ProxyRotation>();
    environment.Run.RequestMutexName = "MiravaParserMutex-bench-" + std::to_string(getpid());
    environment.Run.LoopSleep = std::chrono::milliseconds(0);
    environment.Run.OpenWorkbook = [](const std::string&) {};
    environment.ShowMessage = [](app::MessageIcon, const QString&, const QString&) {};
    environment.Ask = [](const QString&, const QString&, const QString&, const QString&) {
      return false;
    };
    app::TMainForm form(std::move(environment));
    form.show();
    QCoreApplication::processEvents();
    form.StartButtonClick();

    double full_bytes = 0;
    int full_position = 0;
    double peak_pane_full = 0;
    while (!form.CurrentScraper.expired() || form.ProgressBar->value() != 0) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
      const int position = form.ProgressBar->value();
      if (full_position == 0 && position >= kPaneFullAt) {
        full_position = position;
        full_bytes = ResidentBytes();
      }
      if (full_position > 0 && position > 0) {
        peak_pane_full = std::max(peak_pane_full, ResidentBytes());
        state.counters["organizations"] = position;
      }
      if (form.CurrentScraper.expired()) {
        QCoreApplication::processEvents();
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    const int done = static_cast<int>(state.counters["organizations"]);
    state.counters["KB_per_organization_after_pane_full"] =
        (peak_pane_full - full_bytes) / 1024.0 / std::max(1, done - full_position);
    state.counters["RSS_MB_pane_full"] = full_bytes / 1e6;
    state.counters["RSS_MB_end"] = peak_pane_full / 1e6;
  }
  std::filesystem::remove_all(folder);
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument.rfind("--organizations=", 0) == 0) {
      g_organizations = std::atoi(argument.c_str() + 16);
    }
  }
  // Before any thread: the site's process is forked from a process that has none.
  const pid_t site = StartSite();
  engine::InitHttpGlobally();
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QApplication application(argc, argv);
  benchmark::RegisterBenchmark("BM_WindowMemoryPerOrganization", BM_WindowMemoryPerOrganization)
      ->Arg(g_organizations)
      ->Iterations(1)
      ->Unit(benchmark::kSecond);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  kill(site, SIGTERM);
  waitpid(site, nullptr, 0);
  return 0;
}
