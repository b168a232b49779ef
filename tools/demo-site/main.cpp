// The demo directory on 127.0.0.1: about 300 invented car services in three cities, with the
// listing pages, later pages, metro and district hubs and organization pages the parser walks.
// Like a real site it compresses its pages and now and then refuses a request (403) or asks the
// client to slow down (429); a repeated request gets the page. With --no-rate-limit it never
// answers 429, so the program can crawl it directly without its five-minute pauses.
// --changed-after and --robot-check-after make it a site that changes under a running crawl: after
// N organization pages its organization pages come in a markup the program does not read, or
// after N pages every request gets an "are you a robot?" check page.
//
//   mirava_demo_site [--port N] [--port-file PATH] [--lists-folder DIR]
//                    [--idle-exit-seconds S] [--seed N] [--no-rate-limit]
//                    [--changed-after N] [--robot-check-after N]
//
// --lists-folder writes the program's cities.txt and categories.txt there, pointing at this site.
// Stops on SIGINT or SIGTERM, and by itself once no request has come for S seconds.
#include <signal.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

#include "tests/support/fake_directory.h"
#include "tests/support/fake_site.h"

namespace {

struct Arguments {
  int Port = 0;
  std::string PortFile;
  std::string ListsFolder;
  long IdleExitSeconds = 3600;
  std::uint32_t Seed = 1;
  bool RateLimit = true;
  std::optional<int> ChangedAfter;
  std::optional<int> RobotCheckAfter;
};

constexpr const char* kUsage =
    "usage: mirava_demo_site [--port N] [--port-file PATH] [--lists-folder DIR]\n"
    "                        [--idle-exit-seconds S] [--seed N] [--no-rate-limit]\n"
    "                        [--changed-after N] [--robot-check-after N]\n"
    "  --port N               port on 127.0.0.1; 0 (the default) takes a free one\n"
    "  --port-file PATH       write the port there once the site answers\n"
    "  --lists-folder DIR     write cities.txt and categories.txt for this site there\n"
    "  --idle-exit-seconds S  stop after S seconds without a request (default 3600)\n"
    "  --seed N               which invented directory to serve (default 1)\n"
    "  --no-rate-limit        never answer 429 (the demo folder crawls directly)\n"
    "  --changed-after N      after N organization pages, serve organization pages in a\n"
    "                         changed markup whose values the program does not find\n"
    "  --robot-check-after N  after N pages, answer every request with a robot check page\n";

std::optional<long> Number(std::string_view text, long low, long high) {
  try {
    std::size_t used = 0;
    const long value = std::stol(std::string(text), &used);
    if (used != text.size() || value < low || value > high) {
      return std::nullopt;
    }
    return value;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::optional<Arguments> Parse(int argc, char** argv) {
  Arguments arguments;
  for (int i = 1; i < argc; ++i) {
    const std::string_view name = argv[i];
    if (name == "--no-rate-limit") {
      arguments.RateLimit = false;
      continue;
    }
    if (i + 1 >= argc) {
      return std::nullopt;
    }
    const std::string_view value = argv[++i];
    if (name == "--port") {
      const auto port = Number(value, 0, 65535);
      if (!port) {
        return std::nullopt;
      }
      arguments.Port = static_cast<int>(*port);
    } else if (name == "--port-file") {
      arguments.PortFile = value;
    } else if (name == "--lists-folder") {
      arguments.ListsFolder = value;
    } else if (name == "--idle-exit-seconds") {
      const auto seconds = Number(value, 1, 365L * 24 * 3600);
      if (!seconds) {
        return std::nullopt;
      }
      arguments.IdleExitSeconds = *seconds;
    } else if (name == "--seed") {
      const auto seed = Number(value, 0, 0xFFFFFFFFL);
      if (!seed) {
        return std::nullopt;
      }
      arguments.Seed = static_cast<std::uint32_t>(*seed);
    } else if (name == "--changed-after" || name == "--robot-check-after") {
      const auto count = Number(value, 0, 1000000000L);
      if (!count) {
        return std::nullopt;
      }
      (name == "--changed-after" ? arguments.ChangedAfter : arguments.RobotCheckAfter) =
          static_cast<int>(*count);
    } else {
      return std::nullopt;
    }
  }
  return arguments;
}

// Written beside the target and renamed, so a reader never sees half a file.
void WriteWhole(const std::string& path, const std::string& bytes) {
  const std::string partial = path + ".partial";
  {
    std::ofstream file(partial, std::ios::binary | std::ios::trunc);
    file << bytes;
    if (!file.flush()) {
      throw std::runtime_error("cannot write " + partial);
    }
  }
  std::filesystem::rename(partial, path);
}

// The list files as the program expects them: UTF-8 with a byte-order mark, "name=value" lines.
void WriteListFiles(const std::string& folder, const mirava::testing::FakeDirectory& directory,
                    const std::string& origin) {
  std::string cities = "\xEF\xBB\xBF";
  for (std::size_t city = 0; city < directory.Cities().size(); ++city) {
    cities += directory.Cities()[city].Name + "=" + directory.CityValue(origin, city) + "\r\n";
  }
  std::string categories = "\xEF\xBB\xBF";
  for (const mirava::testing::DirectoryCategory& category : directory.Categories()) {
    categories += category.Name + "=" + category.Path + "\r\n";
  }
  WriteWhole(folder + "/cities.txt", cities);
  WriteWhole(folder + "/categories.txt", categories);
}

std::int64_t NowSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

int main(int argc, char** argv) {
  const std::optional<Arguments> arguments = Parse(argc, argv);
  if (!arguments) {
    std::cerr << kUsage;
    return 2;
  }

  // The signals are taken by sigtimedwait below; every thread started later inherits the mask.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  try {
    mirava::testing::FakeDirectory directory({.Seed = arguments->Seed,
                                              .Size = mirava::testing::DirectorySize::Demo,
                                              .PageBytes = 24 * 1024,
                                              .RefusedPercent = 3,
                                              .RateLimitedPercent = arguments->RateLimit ? 3 : 0,
                                              .CompressedPercent = 100,
                                              .ChangedAfter = arguments->ChangedAfter,
                                              .RobotCheckAfter = arguments->RobotCheckAfter});
    mirava::testing::FakeSite site(arguments->Port);
    std::atomic<std::int64_t> last_request{NowSeconds()};
    site.SetHandler([&directory, &last_request,
                     origin = site.Origin()](const mirava::testing::RecordedRequest& request) {
      last_request.store(NowSeconds());
      return std::optional<mirava::testing::FakeResponse>(directory.Respond(origin, request));
    });
    if (!arguments->ListsFolder.empty()) {
      WriteListFiles(arguments->ListsFolder, directory, site.Origin());
    }
    // Last, so that whoever waits for the port finds the lists in place.
    if (!arguments->PortFile.empty()) {
      WriteWhole(arguments->PortFile, std::to_string(site.Port()) + "\n");
    }
    std::cout << "Демо-справочник: " << site.Origin() << "/ (" << directory.Organizations().size()
              << " организаций)" << std::endl;

    for (;;) {
      const timespec second{1, 0};
      const int signal_number = sigtimedwait(&stop_signals, nullptr, &second);
      if (signal_number > 0) {
        std::cout << "Демо-справочник остановлен" << std::endl;
        break;
      }
      if (NowSeconds() - last_request.load() >= arguments->IdleExitSeconds) {
        std::cout << "Демо-справочник остановлен: запросов не было " << arguments->IdleExitSeconds
                  << " с" << std::endl;
        break;
      }
    }
  } catch (const std::exception& error) {
    std::cerr << "mirava_demo_site: " << error.what() << std::endl;
    return 1;
  }
  return 0;
}
