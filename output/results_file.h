#pragma once
// The run's results file (UTF-8 with byte-order mark, CR LF lines, every write handed to the
// system at once), the names of the run's files, and the run log.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

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

// Where the writer's bytes go; the file version is a thin wrapper, tests use memory or a stream
// that refuses writes.
class IByteSink {
 public:
  virtual ~IByteSink() = default;
  // Hands all of `bytes` to the system; throws std::runtime_error with the system's message
  // when it refuses (the file sink then takes back any part of `bytes` it had written).
  virtual void Write(std::string_view bytes) = 0;
  // Releases the file; throws when the system reports a failure, the file being closed anyway.
  // Later calls do nothing.
  virtual void Close() = 0;
  // Makes what was written so far durable (it survives a power loss). Throws as Write.
  virtual void Sync() {}
};

// Creates `path` anew (an existing file is emptied). While open, other programs may read it; a
// second writer that asks for the file's lock, as every run does, is refused before it can empty
// the file. Throws std::runtime_error with the system's message on failure.
std::unique_ptr<IByteSink> CreateResultsSink(const std::string& path);

// Opens the existing `path` to add to it, under the same lock as CreateResultsSink, after cutting
// it to its first `keep_size` bytes (a torn last line). Throws std::runtime_error with the
// system's message; a refused lock leaves the file as it is.
std::unique_ptr<IByteSink> OpenSinkForAppend(const std::string& path, std::uint64_t keep_size);

// ResultsWriter: writes the byte-order mark on attach, then lines, each followed by CR LF.
class ResultsWriter {
 public:
  explicit ResultsWriter(std::unique_ptr<IByteSink> sink);  // writes the byte-order mark
  // Goes on after the lines of a continued run's file, which has its mark already.
  struct Continue {};
  ResultsWriter(std::unique_ptr<IByteSink> sink, Continue);
  // AppendRow; the header too. The line and its CR LF go to the sink in one Write, so a
  // refused write (thrown with the system's message) leaves the lines before it intact.
  void WriteLine(std::string_view utf8_text);
  void Close();  // CloseResultsFile; throws as IByteSink::Close
  void Sync();   // throws as IByteSink::Sync

 private:
  std::unique_ptr<IByteSink> sink_;
};

// Writes the log pane's text (lines separated by "\n") to `path`, replacing it: system code page,
// every line followed by CR LF. Throws std::runtime_error with the system's message on failure.
void SaveRunLog(const std::string& path, std::string_view pane_text);

}  // namespace mirava::output
