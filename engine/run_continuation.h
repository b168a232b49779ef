#pragma once
// Finding a run that did not end complete in a folder, and reading back what it left (journal and
// results file) so a new run can go on where it stopped.
#include <optional>
#include <stdexcept>
#include <string>

#include "engine/run_journal.h"
#include "output/results_file_check.h"

namespace mirava::engine {

// A run that can still be continued, as the operator is told about it.
struct UnfinishedRun {
  std::string ResultsFileName;  // data<n>.tab
  long long Rows = 0;           // organizations in its results file
  long long PagesLeft = 0;      // pages not yet fetched, failed ones included
  // What it was started or last continued with; none for a run that did not record them.
  std::optional<RecordedSettings> Settings;
  // Why it cannot be continued (Russian): its journal or results file is damaged beyond a torn
  // last line. Continuing then starts nothing.
  std::optional<std::string> Damage;
};

// The most recently written run in `folder` (with its trailing "/") whose journal says neither
// complete nor set aside. Throws std::runtime_error when the folder cannot be read.
std::optional<UnfinishedRun> FindUnfinishedRun(const std::string& folder);

// The results file (data<n>.tab) of the most recently written run in `folder` whose journal says
// complete, `except` left out; nothing when there is none. Throws std::runtime_error when the
// folder cannot be read.
std::optional<std::string> LastCompletedRun(const std::string& folder, const std::string& except);

// "data<n>.tab: собрано организаций: R, осталось страниц: P" for messages.
std::string DescribeUnfinishedRun(const UnfinishedRun& run);

// The operator declined to continue: the journal gets a last record, so the run is not offered
// again; every file stays. Throws std::runtime_error with the system's message.
void SetAsideUnfinishedRun(const std::string& folder, const std::string& results_file_name);

// Continuing is refused; what() is the Russian message for the operator.
class ContinueRefused : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct RunToContinue {
  std::string ResultsFileName;
  JournalContents Journal;
  output::ResultsFileContents Results;
};

// Reads both files of the run. Throws ContinueRefused when either is missing or damaged beyond a
// torn last line, or the run ended complete; nothing is written.
RunToContinue LoadRunToContinue(const std::string& folder, const std::string& results_file_name);

}  // namespace mirava::engine
