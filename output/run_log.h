#pragma once
// The run log, log<m>.txt, written line by line as the run goes, so a crash keeps every line up to
// it and a long run keeps none of them in memory. The file holds the lines as the log pane shows
// them: system code page, every line followed by CR LF.
#include <memory>
#include <string>
#include <string_view>

#include "output/results_file.h"

namespace mirava::output {

// The bytes a pane text (lines separated by "\n", a CR before a "\n" dropped) becomes in the log
// file. `whole`: the text is the whole log, whose final "\n" ends its last line; otherwise it is
// one more line of it, and a final "\n" leaves an empty line, as in the pane.
std::string RunLogBytes(std::string_view pane_text, bool whole);

class RunLogWriter {
 public:
  explicit RunLogWriter(std::unique_ptr<platform::IByteSink> sink);
  // One log line as the pane shows it; throws std::runtime_error with the system's message.
  void WriteLine(std::string_view pane_line);
  void Sync();   // throws as platform::IByteSink::Sync
  void Close();  // throws as platform::IByteSink::Close; later calls do nothing

 private:
  std::unique_ptr<platform::IByteSink> sink_;
};

}  // namespace mirava::output
