#include "output/run_log.h"

#include <utility>

#include "analysis/text_encoding.h"

namespace mirava::output {

std::string RunLogBytes(std::string_view pane_text, bool whole) {
  std::u16string text;
  const std::u16string pane = analysis::Utf8ToUtf16(pane_text);
  std::size_t start = 0;
  for (;;) {
    if (whole && start >= pane.size()) {
      break;
    }
    std::size_t end = pane.find(u'\n', start);
    const bool last = end == std::u16string::npos;
    if (last) {
      end = pane.size();
    }
    std::size_t line_end = end;
    if (line_end > start && pane[line_end - 1] == u'\r') {
      --line_end;
    }
    text.append(pane, start, line_end - start).append(u"\r\n");
    if (last) {
      break;
    }
    start = end + 1;
  }
  return analysis::EncodeSystemCodePage(text);
}

RunLogWriter::RunLogWriter(std::unique_ptr<platform::IByteSink> sink) : sink_(std::move(sink)) {}

void RunLogWriter::WriteLine(std::string_view pane_line) {
  sink_->Write(RunLogBytes(pane_line, false));
}

void RunLogWriter::Sync() {
  sink_->Sync();
}

void RunLogWriter::Close() {
  sink_->Close();
}

}  // namespace mirava::output
