#include "output/results_file.h"

#include <cstdint>
#include <string>

#include "analysis/text_encoding.h"
#include "output/run_log.h"
#include "platform/file_access.h"

namespace mirava::output {

RunFileNames MakeRunFileNames(std::uint32_t n, std::uint32_t m) {
  // The tick count's 32 bits read as a signed number: past 2^31 the names carry a minus sign.
  const auto as_signed = [](std::uint32_t tick) {
    return std::to_string(static_cast<std::int32_t>(tick));
  };
  RunFileNames names;
  names.ResultsFileName = "data" + as_signed(n) + ".tab";
  names.WorkbookFileName = "data" + as_signed(n) + ".xlsx";
  names.LogFileName = "log" + as_signed(m) + ".txt";
  return names;
}

RunFileNames FreeRunFileNames(const std::string& folder, std::uint32_t n, std::uint32_t m) {
  // A name counts as taken whatever lies there (a file, a folder, a dangling link).
  const auto taken = [&folder](const std::string& name) {
    return platform::NameTaken(folder + name);
  };
  RunFileNames names = MakeRunFileNames(n, m);
  // Bounded: a folder cannot hold 2^32 names, but a broken file system must not hang the run.
  for (std::uint32_t tries = 0;
       tries < 1000000 && (taken(names.ResultsFileName) || taken(names.WorkbookFileName) ||
                           taken(JournalFileNameOf(names.ResultsFileName)));
       ++tries) {
    names = MakeRunFileNames(++n, m);
  }
  for (std::uint32_t tries = 0; tries < 1000000 && taken(names.LogFileName); ++tries) {
    names.LogFileName = MakeRunFileNames(n, ++m).LogFileName;
  }
  return names;
}

ResultsWriter::ResultsWriter(std::unique_ptr<platform::IByteSink> sink) : sink_(std::move(sink)) {
  sink_->Write(analysis::kUtf8ByteOrderMark);
}

ResultsWriter::ResultsWriter(std::unique_ptr<platform::IByteSink> sink, Continue)
    : sink_(std::move(sink)) {}

void ResultsWriter::WriteLine(std::string_view utf8_text) {
  // One hand-over per line, so a line and its break reach the file together.
  std::string line;
  line.reserve(utf8_text.size() + 2);
  line.append(utf8_text).append("\r\n");
  sink_->Write(line);
}

void ResultsWriter::Close() {
  if (sink_) {
    sink_->Close();
  }
}

void ResultsWriter::Sync() {
  if (sink_) {
    sink_->Sync();
  }
}

std::string JournalFileNameOf(const std::string& results_file_name) {
  const std::string_view extension = ".tab";
  std::string name = results_file_name;
  if (name.size() >= extension.size() &&
      name.compare(name.size() - extension.size(), extension.size(), extension) == 0) {
    name.resize(name.size() - extension.size());
  }
  return name + ".journal";
}

void SaveRunLog(const std::string& path, std::string_view pane_text) {
  platform::ReplaceFileContents(path, RunLogBytes(pane_text, true));
}

}  // namespace mirava::output
