#pragma once
// The run's results file (UTF-8 with byte-order mark, CR LF lines, every write handed to the
// system at once), the names of the run's files, and the run log.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/file_access.h"

namespace mirava::output {

struct RunFileNames {
  std::string ResultsFileName;   // data<n>.tab
  std::string WorkbookFileName;  // data<n>.xlsx
  std::string LogFileName;       // log<m>.txt
};

// n and m are two readings of the 32-bit tick count, printed as signed 32-bit numbers.
RunFileNames MakeRunFileNames(std::uint32_t n, std::uint32_t m);

// The names for a run in `folder` (with its trailing "/"): as MakeRunFileNames, but n moves on
// while data<n>.tab, data<n>.xlsx or data<n>.journal exists there and m while log<m>.txt does,
// so a run never empties or replaces an earlier run's files (the tick count starts again after
// every reboot).
RunFileNames FreeRunFileNames(const std::string& folder, std::uint32_t n, std::uint32_t m);

// data<n>.tab -> data<n>.journal: the run's journal lies beside its results file.
std::string JournalFileNameOf(const std::string& results_file_name);

// ResultsWriter: writes the byte-order mark on attach, then lines, each followed by CR LF.
class ResultsWriter {
 public:
  explicit ResultsWriter(std::unique_ptr<platform::IByteSink> sink);  // writes the byte-order mark
  // Goes on after the lines of a continued run's file, which has its mark already.
  struct Continue {};
  ResultsWriter(std::unique_ptr<platform::IByteSink> sink, Continue);
  // AppendRow; the header too. The line and its CR LF go to the sink in one Write, so a
  // refused write (thrown with the system's message) leaves the lines before it intact.
  void WriteLine(std::string_view utf8_text);
  void Close();  // CloseResultsFile; throws as platform::IByteSink::Close
  void Sync();   // throws as platform::IByteSink::Sync

 private:
  std::unique_ptr<platform::IByteSink> sink_;
};

// Writes the log pane's text (lines separated by "\n") to `path`, replacing it: system code page,
// every line followed by CR LF. Throws std::runtime_error with the system's message on failure.
void SaveRunLog(const std::string& path, std::string_view pane_text);

}  // namespace mirava::output
