// The run journal's lines: what a run writes reads back the same, a torn last line is ignored
// wherever the crash cut it, and any other damage is refused with a reason.
#include <zlib.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/run_journal.h"

namespace mirava::engine {
namespace {

class MemorySink : public platform::IByteSink {
 public:
  explicit MemorySink(std::string& bytes) : bytes_(bytes) {}
  void Write(std::string_view bytes) override { bytes_.append(bytes); }
  void Close() override {}

 private:
  std::string& bytes_;
};

// A journal with every kind of record: a placeholder in the selection, an address with the
// characters the format escapes, a job queued twice, a page that failed and one that never ended.
std::string SampleJournal() {
  std::string bytes;
  JournalWriter writer(std::make_unique<MemorySink>(bytes));
  writer.Header();
  writer.Selection({std::string("http://127.0.0.1/barnaul/"), std::nullopt},
                   {std::string("autoservice/")});
  writer.Queued("http://127.0.0.1/barnaul/autoservice/", "");
  writer.Queued("http://127.0.0.1/barnaul/autoservice/", "");
  writer.Commit();
  writer.Queued("http://127.0.0.1/firm/1\t\\n\r\n/", "Автосервисы");
  writer.Queued("http://127.0.0.1/firm/2/", "Чип-тюнинг");
  writer.Finished("http://127.0.0.1/barnaul/autoservice/", true);
  writer.Finished("http://127.0.0.1/firm/1\t\\n\r\n/", false);
  writer.Commit();
  return bytes;
}

TEST(RunJournalTest, ReadsBackWhatWasWritten) {
  const std::string bytes = SampleJournal();
  const auto read = ReadJournal(bytes);
  ASSERT_TRUE(std::holds_alternative<JournalContents>(read))
      << std::get<JournalDamage>(read).Reason;
  const JournalContents& journal = std::get<JournalContents>(read);
  EXPECT_EQ(journal.WholeSize, bytes.size());
  EXPECT_EQ(journal.Cities,
            (std::vector<std::optional<std::string>>{"http://127.0.0.1/barnaul/", std::nullopt}));
  EXPECT_EQ(journal.Categories, (std::vector<std::optional<std::string>>{"autoservice/"}));
  ASSERT_EQ(journal.Pages.size(), 4u);
  // The first of the twin jobs is the one finished; the second is still to fetch.
  EXPECT_EQ(journal.Pages[0].State, PageState::Done);
  EXPECT_EQ(journal.Pages[1].State, PageState::Pending);
  EXPECT_EQ(journal.Pages[2].Address, "http://127.0.0.1/firm/1\t\\n\r\n/");
  ASSERT_TRUE(journal.Pages[2].Category);
  EXPECT_EQ(*journal.Pages[2].Category, "Автосервисы");
  EXPECT_FALSE(journal.Pages[0].Category);
  EXPECT_EQ(journal.Pages[2].State, PageState::Failed);
  EXPECT_EQ(journal.Pages[3].State, PageState::Pending);
  EXPECT_FALSE(journal.Complete);
  EXPECT_FALSE(JournalClosed(bytes));
}

TEST(RunJournalTest, TornLastLineIsIgnoredWhereverItWasCut) {
  std::string whole = SampleJournal();
  std::string bytes = whole;
  {
    JournalWriter writer(std::make_unique<MemorySink>(bytes));
    writer.Finished("http://127.0.0.1/firm/2/", true);
    writer.Commit();
  }
  for (std::size_t cut = whole.size(); cut < bytes.size(); ++cut) {
    const auto read = ReadJournal(std::string_view(bytes).substr(0, cut));
    ASSERT_TRUE(std::holds_alternative<JournalContents>(read)) << "cut at " << cut;
    const JournalContents& journal = std::get<JournalContents>(read);
    EXPECT_EQ(journal.WholeSize, whole.size());
    EXPECT_EQ(journal.Pages[3].State, PageState::Pending) << "cut at " << cut;
  }
  const auto read = ReadJournal(bytes);
  EXPECT_EQ(std::get<JournalContents>(read).Pages[3].State, PageState::Done);
}

// Pages mostly finish in queue order, but not always: a page finished far from the oldest open
// one, a page finished twice and a failed page finished again all land where they belong.
TEST(RunJournalTest, FinishedPagesFoundInAnyOrder) {
  std::string bytes;
  JournalWriter writer(std::make_unique<MemorySink>(bytes));
  writer.Header();
  const auto address = [](int n) { return "http://127.0.0.1/firm/" + std::to_string(n) + "/"; };
  for (int n = 0; n < 1000; ++n) {
    writer.Queued(address(n), "");
  }
  writer.Finished(address(999), true);
  for (int n = 0; n < 500; ++n) {
    writer.Finished(address(n), n % 7 != 0);
  }
  writer.Finished(address(999), true);
  writer.Finished(address(7), true);  // failed once, fetched on a later try
  writer.Commit();
  const auto read = ReadJournal(bytes);
  ASSERT_TRUE(std::holds_alternative<JournalContents>(read))
      << std::get<JournalDamage>(read).Reason;
  const JournalContents& journal = std::get<JournalContents>(read);
  for (int n = 0; n < 1000; ++n) {
    const PageState expected = n == 999 || n == 7 ? PageState::Done
                               : n >= 500         ? PageState::Pending
                               : n % 7 == 0       ? PageState::Failed
                                                  : PageState::Done;
    EXPECT_EQ(journal.Pages[n].State, expected) << n;
  }
}

TEST(RunJournalTest, RefusesDamageBeyondTheLastLine) {
  const std::string good = SampleJournal();
  const std::size_t second_line = good.find('\n') + 1;
  struct Case {
    const char* name;
    std::string bytes;
  };
  std::string flipped = good;
  flipped[second_line + 3] ^= 0x01;
  std::string zeros = good;
  zeros.replace(second_line, 10, std::string(10, '\0'));
  std::string unknown_page = good;
  {
    JournalWriter writer(std::make_unique<MemorySink>(unknown_page));
    writer.Finished("http://127.0.0.1/never-queued/", true);
    writer.Commit();
  }
  std::string not_a_journal;
  {
    JournalWriter writer(std::make_unique<MemorySink>(not_a_journal));
    writer.Queued("http://127.0.0.1/", "");
    writer.Commit();
  }
  const std::vector<Case> cases = {
      {"a flipped bit", flipped},
      {"zeros from a power loss", zeros},
      {"a finished page never queued", unknown_page},
      {"no header", not_a_journal},
      {"nothing whole", good.substr(0, 5)},
      {"a line of text", good + "hello\n"},
  };
  for (const Case& c : cases) {
    const auto read = ReadJournal(c.bytes);
    ASSERT_TRUE(std::holds_alternative<JournalDamage>(read)) << c.name;
    EXPECT_FALSE(std::get<JournalDamage>(read).Reason.empty()) << c.name;
  }
}

TEST(RunJournalTest, ClosedByCompleteOrSetAsideEvenAfterDamage) {
  for (const bool complete : {true, false}) {
    std::string bytes = SampleJournal();
    bytes[bytes.find('\n') + 3] ^= 0x01;
    JournalWriter writer(std::make_unique<MemorySink>(bytes));
    complete ? writer.Complete() : writer.SetAside();
    writer.Commit();
    EXPECT_TRUE(JournalClosed(bytes));
    EXPECT_FALSE(JournalClosed(bytes.substr(0, bytes.size() - 1)));
  }
}

// A continued run must go on as it was started: at the thread limit, interval and proxy mode it
// recorded last, and a journal from before settings were recorded still reads.
TEST(RunJournalTest, SettingsReadBackTheLastRecorded) {
  EXPECT_FALSE(std::get<JournalContents>(ReadJournal(SampleJournal())).Settings);

  std::string bytes = SampleJournal();
  {
    JournalWriter writer(std::make_unique<MemorySink>(bytes));
    writer.Settings(2, 0, true);
    writer.Settings(8, 15, false);
    writer.Commit();
  }
  const auto settings = std::get<JournalContents>(ReadJournal(bytes)).Settings;
  ASSERT_TRUE(settings);
  EXPECT_EQ(settings->ThreadsLimit, 8);
  EXPECT_EQ(settings->IntervalSec, 15);
  EXPECT_FALSE(settings->UseProxy);

  // A settings record the writer never makes is damage, not a guess.
  const std::string line = "S\t2\t-1\t1";
  char checksum[16];
  std::snprintf(checksum, sizeof checksum, "\t%08x\n",
                static_cast<unsigned>(crc32(0L, reinterpret_cast<const Bytef*>(line.data()),
                                            static_cast<uInt>(line.size()))));
  EXPECT_TRUE(
      std::holds_alternative<JournalDamage>(ReadJournal(SampleJournal() + line + checksum)));
}

// A run that took only new organizations continues so; a record written before the base was
// (three fields) reads as one that fetched every organization.
TEST(RunJournalTest, SettingsCarryTheTreatmentOfKnownOrganizations) {
  std::string bytes = SampleJournal();
  {
    JournalWriter writer(std::make_unique<MemorySink>(bytes));
    writer.Settings(RecordedSettings{3, 5, false, true, 30});
    writer.Commit();
  }
  const auto settings = std::get<JournalContents>(ReadJournal(bytes)).Settings;
  ASSERT_TRUE(settings);
  EXPECT_EQ(settings->ThreadsLimit, 3);
  EXPECT_TRUE(settings->OnlyNew);
  EXPECT_EQ(settings->RefreshDays, 30);

  const auto with_checksum = [](const std::string& line) {
    char checksum[16];
    std::snprintf(checksum, sizeof checksum, "\t%08x\n",
                  static_cast<unsigned>(crc32(0L, reinterpret_cast<const Bytef*>(line.data()),
                                              static_cast<uInt>(line.size()))));
    return line + checksum;
  };
  const auto older =
      std::get<JournalContents>(ReadJournal(SampleJournal() + with_checksum("S\t2\t0\t1")))
          .Settings;
  ASSERT_TRUE(older);
  EXPECT_TRUE(older->UseProxy);
  EXPECT_FALSE(older->OnlyNew);
  EXPECT_EQ(older->RefreshDays, 0);
  for (const char* damaged : {"S\t2\t0\t1\t2\t0", "S\t2\t0\t1\t1\t-3", "S\t2\t0\t1\t1"}) {
    EXPECT_TRUE(std::holds_alternative<JournalDamage>(
        ReadJournal(SampleJournal() + with_checksum(damaged))))
        << damaged;
  }
}

TEST(RunJournalTest, CompletedOnlyByACompleteRecord) {
  std::string bytes = SampleJournal();
  EXPECT_FALSE(JournalCompleted(bytes));
  {
    JournalWriter writer(std::make_unique<MemorySink>(bytes));
    writer.SetAside();
    writer.Commit();
  }
  EXPECT_FALSE(JournalCompleted(bytes));
  {
    JournalWriter writer(std::make_unique<MemorySink>(bytes));
    writer.Complete();
    writer.Commit();
  }
  EXPECT_TRUE(JournalCompleted(bytes));
}

}  // namespace
}  // namespace mirava::engine
