#pragma once
// The command line of mirava-cli, and the run request it stands for.
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "engine/run_events.h"

namespace mirava::cli {

// Exit statuses; other tools rely on them.
inline constexpr int kExitComplete = 0;
inline constexpr int kExitRunFailed = 1;
inline constexpr int kExitBadInput = 2;
inline constexpr int kExitStopped = 3;
// The site's pages stopped being recognised (the run was stopped, continuable), or a check found
// a page it did not recognise.
inline constexpr int kExitPagesUnrecognised = 4;
inline constexpr int kExitInterrupted = 130;  // a second SIGINT

inline constexpr int kMinThreads = 1;
inline constexpr int kMaxThreads = 1000;
// As the window: ten seconds between direct requests, none when proxies are used.
inline constexpr int kDirectIntervalSec = 10;
inline constexpr int kProxyIntervalSec = 0;

struct CliOptions {
  std::vector<std::string> Cities;  // names as in cities.txt, in the order given
  std::vector<std::string> Categories;
  bool AllCities = false;
  bool AllCategories = false;
  // Nothing: 1 for a new run, the recorded limit for a continued one.
  std::optional<int> Threads;
  // Nothing: as the window sets it for the proxy switch (a continued run: as recorded, unless
  // the proxy mode was switched).
  std::optional<int> IntervalSec;
  // --proxy or --no-proxy; nothing: direct for a new run, the recorded mode for a continued one.
  std::optional<bool> UseProxy;
  std::optional<std::string> Folder;  // nothing: the program's own folder
  bool NoOpen = false;
  bool Help = false;
  // Go on with the folder's unfinished run, with its own selection.
  bool Continue = false;
  // Check that the site's pages are recognised instead of a run: the first job only.
  bool Check = false;
  // --only-new: organizations the folder's base knows are not fetched. Nothing: every
  // organization for a new run, the recorded choice for a continued one.
  std::optional<bool> OnlyNew;
  // --refresh-days N: with --only-new, known organizations last seen more than N days ago are
  // fetched again to update the base. Nothing: 0 for a new run, as recorded for a continued one.
  std::optional<int> RefreshDays;
  // --export-base FILE: instead of a run, the folder's organization base into this workbook.
  std::optional<std::string> ExportBase;
  // --since YYYY-MM-DD with --export-base: only organizations first seen on or after that day.
  struct Date {
    int Year = 0;
    int Month = 0;
    int Day = 0;
  };
  std::optional<Date> Since;
};

// A message for the operator, in Russian.
struct UsageError {
  std::string Message;
};

std::variant<CliOptions, UsageError> ParseArguments(const std::vector<std::string>& arguments);

// The --help text, in Russian and in English.
std::string HelpText();

// The job selection for the options from the list files in `folder` (with its trailing "/"):
// every list item whose name was asked for (letter case ignored), in list order, as the window
// would select them. Skipped lines of the list files are told in `warnings`. With --proxy, a
// proxy.txt without a usable entry is an error.
std::variant<engine::RunRequest, UsageError> MakeRunRequest(const CliOptions& options,
                                                            const std::string& folder,
                                                            std::vector<std::string>& warnings);

// The unfinished run of `folder`, if any. With --continue, `request` becomes its continuation
// (an error when there is none or it is damaged) with the threads, interval and proxy mode the
// run recorded, each overridden by its own option only; a proxy mode without a usable proxy.txt
// is an error. Without --continue, the run is named in `notes` and left alone, and `request`
// stays a new run.
std::optional<UsageError> ApplyUnfinishedRun(const CliOptions& options, const std::string& folder,
                                             engine::RunRequest& request,
                                             std::vector<std::string>& notes);

// Nothing when a file can be created in `folder`, else why not.
std::optional<UsageError> CheckFolderWritable(const std::string& folder);

}  // namespace mirava::cli
