// The run's one way out: order, the log file as the pane shows it, and refused events.
#include "engine/run_event_channel.h"

#include <clocale>
#include <memory>
#include <optional>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "analysis/text_encoding.h"
#include "output/run_log.h"
#include "platform/local_time.h"
#include "tests/support/test_window.h"

namespace mirava::testing {
namespace {

using ::testing::ElementsAre;

// The log file's bytes for UTF-8 text: the system's code page (UTF-8 here, the ANSI code page on
// Windows).
std::string LogBytes(const std::string& utf8) {
  return analysis::EncodeSystemCodePage(analysis::Utf8ToUtf16(utf8));
}

class MemorySink : public platform::IByteSink {
 public:
  explicit MemorySink(std::shared_ptr<std::string> bytes) : bytes_(std::move(bytes)) {}
  void Write(std::string_view bytes) override {
    if (refuse_) {
      throw std::runtime_error("Нет места на диске");
    }
    bytes_->append(bytes);
  }
  void Close() override {}
  void Refuse() { refuse_ = true; }

 private:
  std::shared_ptr<std::string> bytes_;
  bool refuse_ = false;
};

TEST(RunEventChannel, WritesLinesToTheLogAsThePaneShowsThem) {
  auto events = std::make_shared<EventRecorder>();
  engine::RunEventChannel channel(events, [] { return std::string("01.02.2026 03:04:05"); });
  channel.Line("до начала");
  channel.Busy(true);  // a new run's log starts here, in the pane and in the file
  channel.Line("первая\r\nвторая\rтретья");
  auto bytes = std::make_shared<std::string>();
  // The lines so far reach the file once it is open, the later ones as they come.
  channel.AttachLog(std::make_unique<output::RunLogWriter>(std::make_unique<MemorySink>(bytes)));
  channel.WorkerLine("user:secret@10.0.0.1:3128", "Запускаем http://x/");
  channel.Line("a\u00A0b\u2028c");
  channel.CloseLog();
  channel.Line("после конца");

  EXPECT_THAT(events->Log(), ElementsAre("01.02.2026 03:04:05: первая\r\nвторая\rтретья",
                                         "01.02.2026 03:04:05 (10.0.0.1:3128): Запускаем http://x/",
                                         "01.02.2026 03:04:05: a\u00A0b\u2028c",
                                         "01.02.2026 03:04:05: после конца"));
  EXPECT_EQ(*bytes, LogBytes("01.02.2026 03:04:05: первая\r\nвторая\r\nтретья\r\n"
                             "01.02.2026 03:04:05 (10.0.0.1:3128): Запускаем http://x/\r\n"
                             "01.02.2026 03:04:05: a b\r\nc\r\n"));
}

// A line the front end refused was never shown, so the log file leaves it out too. The failure
// stops at the channel, whatever the event, and is handed out once, the first one first.
TEST(RunEventChannel, RefusedEventsStopHereAndTheFirstIsHandedOutOnce) {
  auto events = std::make_shared<EventRecorder>();
  engine::RunEventChannel channel(events, [] { return std::string("t"); });
  auto bytes = std::make_shared<std::string>();
  channel.AttachLog(std::make_unique<output::RunLogWriter>(std::make_unique<MemorySink>(bytes)));
  events->FailEvents([](const std::string& event) -> std::optional<std::string> {
    if (event.find("нет") != std::string::npos) {
      return "отказ";
    }
    return std::nullopt;
  });
  channel.Line("да");
  EXPECT_EQ(channel.TakeRefusal(), std::nullopt);
  EXPECT_NO_THROW(channel.Line("нет"));
  channel.Line("снова");
  EXPECT_EQ(*bytes, LogBytes("t: да\r\nt: снова\r\n"));

  events->FailEvents([](const std::string& event) -> std::optional<std::string> {
    return event.starts_with("log ") ? std::nullopt : std::optional<std::string>("окно закрыто");
  });
  EXPECT_NO_THROW(channel.Busy(false));
  EXPECT_NO_THROW(channel.Progress(engine::RunProgress{1, 2, 0}));
  EXPECT_NO_THROW(channel.PagesUnrecognised("x"));
  EXPECT_NO_THROW(channel.Ended(engine::RunOutcome::Complete, ""));
  EXPECT_EQ(channel.TakeRefusal(), "отказ");
  EXPECT_EQ(channel.TakeRefusal(), std::nullopt);
  channel.Progress(engine::RunProgress{2, 2, 0});
  EXPECT_EQ(channel.TakeRefusal(), "окно закрыто");
}

// A full disk must not turn every later line into an error: the log stops, the lines still reach
// the front end, and the failure is told once.
TEST(RunEventChannel, ALogTheDiskRefusesStopsAndIsReportedOnce) {
  auto events = std::make_shared<EventRecorder>();
  engine::RunEventChannel channel(events, [] { return std::string("t"); });
  auto bytes = std::make_shared<std::string>();
  auto sink = std::make_unique<MemorySink>(bytes);
  MemorySink* refusing = sink.get();
  channel.AttachLog(std::make_unique<output::RunLogWriter>(std::move(sink)));
  channel.Line("раз");
  refusing->Refuse();
  EXPECT_NO_THROW(channel.Line("два"));
  EXPECT_NO_THROW(channel.Line("три"));
  EXPECT_THAT(events->Log(), ElementsAre("t: раз", "t: два", "t: три"));
  EXPECT_EQ(*bytes, LogBytes("t: раз\r\n"));
  try {
    channel.SyncLog();
    ADD_FAILURE() << "the refused write was not reported";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "Нет места на диске");
  }
  EXPECT_NO_THROW(channel.SyncLog());
  EXPECT_NO_THROW(channel.CloseLog());
}

TEST(RunEventChannel, ProgressHintHoldsThePositionInRange) {
  EXPECT_EQ(engine::ProgressHint(3, 10), "3 из 10, осталось 7");
  EXPECT_EQ(engine::ProgressHint(12, 10), "10 из 10, осталось 0");
  EXPECT_EQ(engine::ProgressHint(-1, 10), "0 из 10, осталось 10");
  EXPECT_EQ(engine::ProgressHint(0, -5), "0 из 0, осталось 0");
}

// Without a toolkit the C library's locale gives the format; the C and POSIX locales give the
// Russian numeric form instead of the American one; midnight leaves the time out.
TEST(LocalTimestamp, CLocaleGivesTheRussianNumericFormAndMidnightLeavesTheTimeOut) {
  const std::string previous = std::setlocale(LC_TIME, nullptr);
  std::setlocale(LC_TIME, "C");
  std::tm parts{};
  parts.tm_year = 2026 - 1900;
  parts.tm_mon = 2;
  parts.tm_mday = 9;
  parts.tm_hour = 7;
  parts.tm_min = 5;
  parts.tm_sec = 3;
  parts.tm_isdst = -1;
  const std::time_t morning = std::mktime(&parts);
  parts.tm_hour = parts.tm_min = parts.tm_sec = 0;
  parts.tm_isdst = -1;
  const std::time_t midnight = std::mktime(&parts);
  EXPECT_EQ(platform::FormatLocalTimestamp(morning), "09.03.2026 7:05:03");
  EXPECT_EQ(platform::FormatLocalTimestamp(midnight), "09.03.2026");
  std::setlocale(LC_TIME, "POSIX");
  EXPECT_EQ(platform::FormatLocalTimestamp(morning), "09.03.2026 7:05:03");
  std::setlocale(LC_TIME, previous.c_str());
}

}  // namespace
}  // namespace mirava::testing
