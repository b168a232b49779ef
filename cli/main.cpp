// mirava-cli: a crawl without a window, on the same core and the same files as the window.
#include <atomic>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "cli/cli_options.h"
#include "cli/console_events.h"
#include "engine/base_export.h"
#include "engine/http_client.h"
#include "engine/proxy_list.h"
#include "engine/request_pacing.h"
#include "engine/scraper.h"
#include "output/field_coverage.h"
#include "platform/clock.h"
#include "platform/desktop_open.h"
#include "platform/exe_folder.h"
#include "platform/local_time.h"
#include "platform/stop_signals.h"
#include "platform/terminal.h"

namespace {

using namespace mirava;

void PrintError(const std::string& message) {
  std::fprintf(stderr, "mirava-cli: %s\n", message.c_str());
}

bool DisplayPresent() {
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x11 != nullptr && *x11 != '\0') || (wayland != nullptr && *wayland != '\0');
}

std::string WithTrailingSlash(std::string folder) {
  if (folder.empty()) {
    return "./";
  }
  if (folder.back() != '/') {
    folder += '/';
  }
  return folder;
}

int ExitStatus(engine::RunOutcome outcome) {
  switch (outcome) {
    case engine::RunOutcome::Complete:
      return cli::kExitComplete;
    case engine::RunOutcome::Stopped:
      return cli::kExitStopped;
    case engine::RunOutcome::PagesUnrecognised:
      return cli::kExitPagesUnrecognised;
    case engine::RunOutcome::Failed:
      break;
  }
  return cli::kExitRunFailed;
}

// Shows the run's events until it has ended; passes on stop requests.
int Follow(const std::weak_ptr<engine::TScraper>& run, cli::ConsoleEvents& events,
           std::function<std::string()> proxy_account) {
  cli::ProgressPrinter progress(stderr, platform::StandardErrorIsTerminal(),
                                std::chrono::seconds(5), std::move(proxy_account));
  const bool shared_terminal =
      platform::StandardErrorIsTerminal() && platform::StandardOutputIsTerminal();
  bool stop_passed = false;
  bool pages_unrecognised = false;
  std::string coverage;     // the run's coverage line, repeated in the summary
  std::string base_counts;  // and its line of the organization base
  for (;;) {
    if (!stop_passed && (platform::InterruptCount() > 0 || platform::TerminationRequested())) {
      stop_passed = true;
      if (const auto alive = run.lock()) {
        alive->Stop();
      }
    }
    const std::optional<cli::ConsoleEvents::Event> event =
        events.Next(std::chrono::milliseconds(100));
    if (!event) {
      progress.Redraw(std::chrono::steady_clock::now());
      continue;
    }
    switch (event->Type) {
      case cli::ConsoleEvents::Event::Kind::Log:
        if (shared_terminal) {
          progress.ClearLine();
        }
        std::fprintf(stdout, "%s\n", event->Text.c_str());
        std::fflush(stdout);
        if (const std::size_t at = event->Text.find(output::kCoverageLinePrefix);
            at != std::string::npos) {
          coverage = event->Text.substr(at);
        }
        if (const std::size_t at = event->Text.find(engine::kBaseSummaryPrefix);
            at != std::string::npos) {
          base_counts = event->Text.substr(at);
        }
        break;
      case cli::ConsoleEvents::Event::Kind::Progress:
        progress.Update(event->Progress, std::chrono::steady_clock::now());
        break;
      case cli::ConsoleEvents::Event::Kind::PagesUnrecognised:
        // Nobody is there to decide: the run stops as on Ctrl+C and stays continuable.
        pages_unrecognised = true;
        if (!stop_passed) {
          stop_passed = true;
          if (const auto alive = run.lock()) {
            alive->Stop();
          }
        }
        break;
      case cli::ConsoleEvents::Event::Kind::Ended:
        progress.Finish(std::chrono::steady_clock::now());
        if (!coverage.empty()) {
          PrintError(coverage);
        }
        if (!base_counts.empty()) {
          PrintError(base_counts);
        }
        if (!event->Text.empty()) {
          PrintError(event->Text);
        }
        if (pages_unrecognised) {
          PrintError(
              "работа остановлена: страницы сайта перестали распознаваться. Откройте в браузере "
              "адрес из лога; когда сайт снова в порядке, продолжите: mirava-cli --continue");
          return cli::kExitPagesUnrecognised;
        }
        return ExitStatus(event->Outcome);
    }
  }
}

// --export-base: the folder's organization base into a workbook, nothing else.
int ExportBase(const std::string& folder, const std::string& workbook_path,
               const std::optional<cli::CliOptions::Date>& since) {
  std::optional<base::EpochSeconds> since_moment;
  if (since) {
    const std::optional<std::time_t> midnight =
        platform::LocalMidnight(since->Year, since->Month, since->Day);
    if (!midnight) {
      PrintError("Такого дня нет в календаре: --since " + std::to_string(since->Year) + "-" +
                 std::to_string(since->Month) + "-" + std::to_string(since->Day));
      return cli::kExitBadInput;
    }
    since_moment = static_cast<base::EpochSeconds>(*midnight);
  }
  try {
    const long long count = engine::ExportOrganizationBase(folder, workbook_path, since_moment);
    std::fprintf(stdout, "База организаций выгружена в файл %s, организаций: %lld\n",
                 workbook_path.c_str(), count);
  } catch (const std::exception& error) {
    PrintError(error.what());
    return cli::kExitRunFailed;
  }
  return cli::kExitComplete;
}

}  // namespace

int main(int argc, char* argv[]) {
  const auto parsed = cli::ParseArguments(std::vector<std::string>(argv + 1, argv + argc));
  if (const auto* error = std::get_if<cli::UsageError>(&parsed)) {
    PrintError(error->Message);
    std::fprintf(stderr, "mirava-cli --help: справка / help\n");
    return cli::kExitBadInput;
  }
  const cli::CliOptions& options = std::get<cli::CliOptions>(parsed);
  if (options.Help) {
    std::fputs(cli::HelpText().c_str(), stdout);
    return cli::kExitComplete;
  }

  std::setlocale(LC_TIME, "");
  const std::string folder =
      options.Folder ? WithTrailingSlash(*options.Folder) : platform::ExecutableFolder();
  if (options.ExportBase) {
    return ExportBase(folder, *options.ExportBase, options.Since);
  }
  std::vector<std::string> warnings;
  const auto request = cli::MakeRunRequest(options, folder, warnings);
  for (const std::string& warning : warnings) {
    PrintError(warning);
  }
  if (const auto* error = std::get_if<cli::UsageError>(&request)) {
    PrintError(error->Message);
    return cli::kExitBadInput;
  }
  if (const auto error = cli::CheckFolderWritable(folder)) {
    PrintError(error->Message);
    return cli::kExitBadInput;
  }
  engine::RunRequest run_request = std::get<engine::RunRequest>(request);
  std::vector<std::string> notes;
  // A check leaves the folder's unfinished run alone and has nothing to say of it.
  const auto unfinished_error =
      options.Check ? std::nullopt : cli::ApplyUnfinishedRun(options, folder, run_request, notes);
  for (const std::string& note : notes) {
    PrintError(note);
  }
  if (unfinished_error) {
    PrintError(unfinished_error->Message);
    return cli::kExitBadInput;
  }

  // Before any thread exists: the HTTP library's global set-up is not thread-safe.
  engine::InitHttpGlobally();
  // The first interrupt asks for a stop as the button does; the second ends at once.
  platform::WatchStopSignals(cli::kExitInterrupted);

  auto events = std::make_shared<cli::ConsoleEvents>();
  engine::RunEnvironment environment;
  environment.Clock = platform::MakeSystemClock();
  environment.Events = events;
  environment.Pacing = std::make_shared<engine::PacingState>();
  environment.Rotation = std::make_shared<engine::ProxyRotation>();
  const auto rotation = environment.Rotation;
  const auto clock = environment.Clock;
  const bool open_workbook = !options.NoOpen && DisplayPresent();
  environment.OpenWorkbook = [open_workbook](const std::string& path) {
    if (open_workbook) {
      platform::OpenWithDesktop(path);
    }
  };

  std::weak_ptr<engine::TScraper> run;
  try {
    std::shared_ptr<engine::TScraper> started =
        engine::TScraper::Create(std::move(environment), std::move(run_request));
    run = started;
    started->Start();
  } catch (const std::exception& error) {
    PrintError(std::string("Ошибка: ") + error.what());
    return cli::kExitRunFailed;
  }
  const int status = Follow(run, *events, [rotation, clock] {
    return engine::ProxyHealthAccountText(rotation->Health.Records(), clock->TickCount());
  });
  std::fflush(stdout);
  std::fflush(stderr);
  // Stopped workers break their requests off at once; the process ends normally once the run has
  // freed itself. Everything of the run is on disk already, so a worker the stop cannot reach
  // (a name lookup that hangs) is not waited for beyond the bound.
  if (!engine::WaitUntilRunFreed(run, engine::timings::kStoppedRunFreeWait)) {
    std::_Exit(status);
  }
  return status;
}
