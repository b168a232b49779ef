#pragma once
// How a run talks to its front end. The front end starts a run from a RunRequest and passes on
// the operator's changes; the run announces what happened through IRunEvents. The window and the
// command-line program are two implementations of these events; tests record them.
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "engine/run_timings.h"

namespace mirava::engine {

// What a run is told to do, as a plain value taken when it starts.
struct RunRequest {
  // The values kept behind the selected list items, in list order. Nothing for an item that
  // carries no value (a placeholder): the pairs it forms are skipped with one log line.
  std::vector<std::optional<std::string>> Cities;
  std::vector<std::optional<std::string>> Categories;
  int ThreadsLimit = 1;
  int IntervalSec = 10;
  bool UseProxy = false;
  // Every file of the run lies there; with a trailing "/".
  std::string Folder;
  // The results file (data<n>.tab) of an unfinished run in Folder to go on with, instead of a new
  // run: its journal gives the job list and what is left, Cities and Categories are not used.
  std::optional<std::string> ContinueResultsFile;
  // Harvested pages in a row that the readers do not recognise before the run holds; 0 never.
  int UnrecognisedPagesLimit = timings::kUnrecognisedPagesLimit;
  // A check of the site instead of a run: the first job's listing page and up to
  // kCheckedOrganizations of its organization pages, each reported as read; no file is written.
  bool CheckOnly = false;
  // Organization pages of organizations the folder's base knows are not fetched and get no row.
  bool OnlyNew = false;
  // With OnlyNew: a known organization last seen more than this many days ago is fetched again
  // to bring its values in the base up to date (it still gets no row); 0 never.
  int RefreshDays = 0;
};

// The organization pages a check reads after its listing page.
inline constexpr int kCheckedOrganizations = 5;

enum class RunOutcome {
  Complete,  // the queue ran dry: "Сбор данных завершен"
  Failed,    // it could not start, or an error was reported on the way
  Stopped,   // stopped on request
  // A check read a page it did not recognise: the site may have changed its pages.
  PagesUnrecognised,
};

struct RunProgress {
  int Position = 0;    // pages harvested
  int Maximum = 0;     // addresses known
  long long Rows = 0;  // rows written to the results file
};

// Called on the run's threads, one call at a time and in the order things happened (a worker's
// lines come before the coordinator's line about that worker). An implementation must return
// quickly and must not call back into the run; it hands the event to its own thread. An exception
// it throws stops at the run's event channel, which reports it as an error of the run.
class IRunEvents {
 public:
  virtual ~IRunEvents() = default;
  // On: a run begins (the window clears its log pane and disables the start button and the
  // lists). Off: the run has given the front end back; nothing but RunEnded follows.
  virtual void BusyChanged(bool busy) = 0;
  // A whole log line, time stamp included, UTF-8.
  virtual void LogLine(const std::string& line) = 0;
  virtual void ProgressChanged(const RunProgress& progress) = 0;
  // The folder's organization base cannot be used: the run goes on without it. `message` is the
  // log line that says why. Front ends that do not act on it need not override it.
  virtual void BaseUnavailable(const std::string& message) { static_cast<void>(message); }
  // The run holds because the site's pages stopped being recognised; `message` is the log line
  // that says how many, of which kind and the last address. The run stays paused until the
  // operator resumes or stops it. Front ends that do not act on it need not override it.
  virtual void PagesUnrecognised(const std::string& message) { static_cast<void>(message); }
  // The very last event. `message` says why a run that never began failed.
  virtual void RunEnded(RunOutcome outcome, const std::string& message) = 0;
};

// The progress bar's hint: "<position> из <maximum>, осталось <left>", with the position held
// between 0 and the maximum as the bar holds it.
std::string ProgressHint(int position, int maximum);

}  // namespace mirava::engine
