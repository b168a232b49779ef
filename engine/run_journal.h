#pragma once
// The run journal: one line per record, appended as the run goes, from which an interrupted run
// is rebuilt. Every line carries a checksum, so a line that was whole once but was damaged later
// is told apart from the torn last line a crash leaves (which is ignored).
//
// Records, in the order a run writes them: the header, the selection (cities, then categories),
// the settings it runs with, every queued address with its category line (the job list first),
// every finished page (fetched or failed), and at last "complete". A continued run records its
// settings again. A run set aside by the operator gets a last record saying so.
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "output/results_file.h"

namespace mirava::engine {

// Collects records in memory; Commit hands them to the file in one write, so the hot path costs
// one system call per finished page and never a sync.
class JournalWriter {
 public:
  explicit JournalWriter(std::unique_ptr<platform::IByteSink> sink);

  void Header();
  void Selection(const std::vector<std::optional<std::string>>& cities,
                 const std::vector<std::optional<std::string>>& categories);
  void Settings(const struct RecordedSettings& settings);
  // Known organizations fetched as any, as before the organization base.
  void Settings(int threads, int interval_sec, bool use_proxy);
  void Queued(std::string_view address, std::string_view category);
  void Finished(std::string_view address, bool fetched);
  void Complete();
  void SetAside();

  // Writes what was collected; throws std::runtime_error with the system's message.
  void Commit();
  void Sync();
  void Close();

 private:
  void Record(char kind, std::initializer_list<std::string_view> fields);

  std::unique_ptr<platform::IByteSink> sink_;
  std::string pending_;
};

enum class PageState : std::uint8_t { Pending, Done, Failed };

struct QueuedPage {
  std::string Address;
  // Null: the address has no category line. Pages of one listing share one copy of the name.
  std::shared_ptr<const std::string> Category;
  PageState State = PageState::Pending;
};

// The thread limit, interval, proxy mode and treatment of known organizations a run was started
// or last continued with.
struct RecordedSettings {
  int ThreadsLimit = 1;
  int IntervalSec = 0;
  bool UseProxy = false;
  // Absent from the records of runs made before the organization base: off and 0.
  bool OnlyNew = false;
  int RefreshDays = 0;
};

struct JournalContents {
  // Bytes up to the end of the last whole line.
  std::uint64_t WholeSize = 0;
  std::vector<std::optional<std::string>> Cities;
  std::vector<std::optional<std::string>> Categories;
  // In the order they were queued; a deque so the pages stay where they are while it grows.
  std::deque<QueuedPage> Pages;
  bool Complete = false;
  bool SetAside = false;
  // The last settings record; none in a journal written before runs recorded them.
  std::optional<RecordedSettings> Settings;
};

struct JournalDamage {
  std::string Reason;  // Russian, for the operator
};

std::variant<JournalContents, JournalDamage> ReadJournal(std::string_view bytes);

// True when the last whole line is a sound "complete" or "set aside" record: such a run is not
// offered for continuing even when an earlier line is damaged.
bool JournalClosed(std::string_view bytes);
// True when the last whole line is a sound "complete" record: the run ended complete.
bool JournalCompleted(std::string_view bytes);

}  // namespace mirava::engine
