// mirava-cli killed again and again in the middle of a crawl of the demo-size directory, and
// continued after each interruption: the results file ends up as one uninterrupted run's, and
// the site sees only the pages that were in flight again. Also the refusal of a damaged journal.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "analysis/organization_row.h"
#include "base/organization_base.h"
#include "tests/support/fake_directory.h"
#include "tests/support/fake_site.h"
#include "tests/support/wait_for.h"

extern char** environ;

namespace mirava::testing {
namespace {

using ::testing::HasSubstr;

namespace fs = std::filesystem;

constexpr int kThreads = 2;
constexpr int kKills = 22;
constexpr std::uint32_t kSeed = 14;

std::string ReadAll(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

void WriteAll(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Pages whose worker the log shows started ("Запускаем <address>") but whose page the run has
// not yet taken (the coordinator's line "<address>: <outcome>").
int PagesInFlight(const std::string& log) {
  constexpr std::size_t kStampLength = std::string_view("10.12.2026 12:00:00: ").size();
  const std::string started = "Запускаем ";
  std::set<std::string> open;  // a worker logs its start at every attempt
  std::size_t start = 0;
  for (std::size_t end; (end = log.find('\n', start)) != std::string::npos; start = end + 1) {
    if (end - start <= kStampLength) {
      continue;
    }
    const std::string message = log.substr(start + kStampLength, end - start - kStampLength);
    if (message.starts_with(started)) {
      open.insert(message.substr(started.size()));
    } else if (message.starts_with("http")) {
      open.erase(message.substr(0, message.find(": ")));
    }
  }
  return static_cast<int>(open.size());
}

std::vector<std::string> Split(const std::string& text, const std::string& separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find(separator, start)) != std::string::npos;
       start = end + separator.size()) {
    parts.push_back(text.substr(start, end - start));
  }
  parts.push_back(text.substr(start));
  return parts;
}

// mirava-cli as a child, its output in files of the folder.
class Child {
 public:
  Child(std::vector<std::string> arguments, const fs::path& folder)
      : out_(folder / "child-stdout.txt"), err_(folder / "child-stderr.txt") {
    arguments.insert(arguments.begin(), MIRAVA_CLI_PATH);
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
      argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out_.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err_.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Child() {
    if (pid_ > 0 && !status_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }

  bool Started() const { return pid_ > 0; }
  void Signal(int signal) { ::kill(pid_, signal); }
  bool Ended() {
    Poll();
    return status_.has_value();
  }
  // The exit status (128 + signal when killed), or -1 after `timeout`.
  int Wait(std::chrono::seconds timeout = std::chrono::seconds(120)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!Ended()) {
      if (std::chrono::steady_clock::now() > deadline) {
        return -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return *status_;
  }
  std::string Out() const { return ReadAll(out_); }
  std::string Err() const { return ReadAll(err_); }

 private:
  void Poll() {
    int status = 0;
    if (!status_ && ::waitpid(pid_, &status, WNOHANG) == pid_) {
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
  }

  fs::path out_;
  fs::path err_;
  pid_t pid_ = -1;
  std::optional<int> status_;
};

class CrashContinueTest : public ::testing::Test {
 protected:
  CrashContinueTest() {
    static int counter = 0;
    folder_ = fs::temp_directory_path() /
              ("mirava-crash-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    fs::create_directories(folder_);
    directory.Attach(site);
    // One city of the demo directory, every category: big enough for many interruptions, small
    // enough for a test run of seconds.
    std::string cities = "\xEF\xBB\xBF";
    for (std::size_t city = 0; city < directory.Cities().size(); ++city) {
      cities +=
          directory.Cities()[city].Name + "=" + directory.CityValue(site.Origin(), city) + "\r\n";
    }
    std::string categories = "\xEF\xBB\xBF";
    std::vector<std::string> jobs;
    for (std::size_t category = 0; category < directory.Categories().size(); ++category) {
      categories += directory.Categories()[category].Name + "=" +
                    directory.Categories()[category].Path + "\r\n";
      jobs.push_back(directory.JobAddress(site.Origin(), 0, category));
    }
    WriteAll(folder_ / "cities.txt", cities);
    WriteAll(folder_ / "categories.txt", categories);
    expected = directory.ExpectCrawl(site.Origin(), jobs);
  }
  ~CrashContinueTest() override {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  std::vector<std::string> Arguments(bool continue_run) const {
    std::vector<std::string> arguments = {"--threads", std::to_string(kThreads), "--interval", "0",
                                          "--folder",  folder_.string(),         "--no-open"};
    if (continue_run) {
      arguments.push_back("--continue");
    } else {
      arguments.insert(arguments.end(), {"--city", directory.Cities()[0].Name, "--all-categories"});
    }
    return arguments;
  }

  fs::path OnlyFile(const std::string& extension) const {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(folder_)) {
      if (entry.path().extension() == extension &&
          entry.path().filename().string().starts_with("data")) {
        found.push_back(entry.path());
      }
    }
    EXPECT_EQ(found.size(), 1u) << extension;
    return found.empty() ? fs::path() : found[0];
  }

  // The results file holds the rows of one uninterrupted run, each once, whole, under one
  // header. With two workers the listing that names an organization's category first may
  // differ from run to run, so that one value need only be one of its listings' names.
  void ExpectRowsOfOneRun() {
    const std::string bytes = ReadAll(OnlyFile(".tab"));
    const std::string head = "\xEF\xBB\xBF" + analysis::HeaderLine() + "\r\n";
    ASSERT_EQ(bytes.substr(0, head.size()), head);
    ASSERT_TRUE(bytes.ends_with("\r\n"));
    std::vector<std::string> lines = Split(bytes.substr(head.size()), "\r\n");
    lines.pop_back();
    std::map<std::string, std::vector<std::string>> rows;
    for (const std::string& line : lines) {
      const std::vector<std::string> fields = Split(line, "\t");
      ASSERT_EQ(fields.size(), 12u) << line;
      ASSERT_TRUE(rows.emplace(fields[0], fields).second) << "twice: " << fields[0];
    }
    std::map<std::string, const DirectoryOrganization*> organizations;
    for (const DirectoryOrganization& organization : directory.Organizations()) {
      organizations["\"" + site.Origin() + organization.Path + "\""] = &organization;
    }
    ASSERT_EQ(rows.size(), expected.Rows.size());
    for (const std::string& row : expected.Rows) {
      const std::vector<std::string> want = Split(row, "\t");
      const auto found = rows.find(want[0]);
      ASSERT_NE(found, rows.end()) << "lost: " << want[0];
      for (std::size_t field = 0; field < want.size(); ++field) {
        if (field == 1) {
          const auto& listed = organizations.at(want[0])->ListedUnder;
          const std::string name = found->second[1].substr(1, found->second[1].size() - 2);
          EXPECT_TRUE(listed.contains(name)) << want[0] << " " << name;
        } else {
          EXPECT_EQ(found->second[field], want[field]) << want[0];
        }
      }
    }
  }

  // The links of the results file's rows and of the folder's organization base.
  std::set<std::string> ResultsLinks() const {
    std::set<std::string> links;
    const std::string bytes = ReadAll(OnlyFile(".tab"));
    std::vector<std::string> lines = Split(bytes, "\r\n");
    for (std::size_t i = 1; i < lines.size(); ++i) {
      const std::vector<std::string> fields = Split(lines[i], "\t");
      // A torn last line is no row; the continued run cuts it off.
      if (fields.size() == 12 && fields[0].size() >= 2) {
        links.insert(fields[0].substr(1, fields[0].size() - 2));
      }
    }
    return links;
  }
  std::set<std::string> BaseLinks() const {
    std::set<std::string> links;
    base::OrganizationBase organizations((folder_ / base::kBaseFileName).string());
    organizations.ListOrganizations(std::nullopt,
                                    [&](const base::StoredOrganization& organization) {
                                      links.insert(organization.Row[analysis::kLinkColumn]);
                                    });
    return links;
  }

  FakeDirectory directory{{.Seed = 3, .Size = DirectorySize::Demo, .PageBytes = 1500}};
  FakeSite site;
  ExpectedCrawl expected;
  fs::path folder_;
};

// Every interruption is a SIGKILL at a seeded random moment, except every fifth, which is a
// SIGINT (the stop button's way); once the journal's last line is also torn in the middle.
TEST_F(CrashContinueTest, KilledAgainAndAgainTheContinuedRunEndsAsOneRun) {
  std::mt19937 random(kSeed);
  const std::size_t pages = expected.Requests.size();
  const int most_per_kill = std::max<int>(2, static_cast<int>(pages * 2 / 3 / kKills));
  std::uniform_int_distribution<int> requests_before_kill(1, most_per_kill);
  std::uniform_int_distribution<int> pause_ms(0, 30);

  std::vector<std::size_t> boundaries;  // the site's request count at each interruption
  std::vector<bool> torn_after;         // the journal's last line torn after that interruption
  std::vector<int> in_flight;           // pages started and not yet taken by the run, per kill
  int interruptions = 0;
  bool complete = false;
  for (int attempt = 0; attempt <= kKills && !complete; ++attempt) {
    Child child(Arguments(attempt > 0), folder_);
    ASSERT_TRUE(child.Started());
    if (attempt == kKills) {
      ASSERT_EQ(child.Wait(), 0) << child.Err();
      complete = true;
      break;
    }
    const std::size_t target = site.RequestCount() + requests_before_kill(random);
    const bool by_sigint = attempt % 5 == 4;
    WaitFor([&] { return site.RequestCount() >= target || child.Ended(); },
            std::chrono::seconds(60));
    std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms(random)));
    if (child.Ended()) {
      ASSERT_EQ(child.Wait(), 0) << child.Err();
      complete = true;
      break;
    }
    child.Signal(by_sigint ? SIGINT : SIGKILL);
    const int status = child.Wait();
    ASSERT_EQ(status, by_sigint ? 3 : 128 + SIGKILL) << child.Err();
    if (by_sigint) {
      EXPECT_THAT(child.Out(), HasSubstr("можно продолжить"));
    }
    boundaries.push_back(site.RequestCount());
    in_flight.push_back(PagesInFlight(child.Out()));
    // The base takes rows once the results file has made them durable: after a kill it holds
    // none the file lacks, and the rows of the last second reach it when the run is continued.
    if (fs::exists(folder_ / base::kBaseFileName)) {
      const std::set<std::string> results = ResultsLinks();
      for (const std::string& link : BaseLinks()) {
        EXPECT_TRUE(results.contains(link)) << "kill " << interruptions << ": " << link;
      }
    }
    ++interruptions;
    const bool tear = attempt == kKills / 2;
    if (tear) {
      const fs::path journal = OnlyFile(".journal");
      std::string bytes = ReadAll(journal);
      const std::size_t last = bytes.rfind('\n', bytes.size() - 2);
      bytes.resize(last + 1 + (bytes.size() - last - 1) / 2);
      WriteAll(journal, bytes);
    }
    torn_after.push_back(tear);
  }
  ASSERT_TRUE(complete);
  EXPECT_GE(interruptions, 20);

  ExpectRowsOfOneRun();
  EXPECT_EQ(BaseLinks(), ResultsLinks());
  // Every page the crawl needs was fetched, none more than once per run.
  std::map<std::string, int> wanted;
  for (const std::string& path : expected.Requests) {
    ++wanted[path];
  }
  std::map<std::string, int> seen;
  std::vector<int> repeats(boundaries.size() + 1, 0);
  const std::vector<std::string> paths = site.Paths();
  std::size_t segment = 0;
  // A page behind a redirect is two requests; its page counts once, by the redirect's target.
  std::set<std::string> redirecting;
  for (const ServedResponse& served : directory.Served()) {
    if (served.Status >= 300 && served.Status < 400) {
      redirecting.insert(served.Path);
    }
  }
  for (std::size_t i = 0; i < paths.size(); ++i) {
    while (segment < boundaries.size() && i >= boundaries[segment]) {
      ++segment;
    }
    ASSERT_TRUE(wanted.contains(paths[i])) << paths[i];
    if (++seen[paths[i]] > wanted[paths[i]] && !redirecting.contains(paths[i])) {
      ++repeats[segment];
    }
  }
  for (const auto& [path, count] : wanted) {
    EXPECT_GE(seen[path], count) << path;
    EXPECT_LE(seen[path], count * (interruptions + 1)) << path;
  }
  // After an interruption, the run fetches again at most the pages in flight and the one page
  // being recorded; a torn record costs its page once more. In flight are the running workers
  // and, when the coordinator lags behind (a slow sanitizer build), workers that have finished
  // but wait for it to take their page: their count comes from the program's log.
  for (std::size_t kill = 0; kill < boundaries.size(); ++kill) {
    const int allowed = std::max(kThreads, in_flight[kill]) + 1 + (torn_after[kill] ? 1 : 0);
    EXPECT_LE(repeats[kill + 1], allowed) << "kill " << kill;
  }
  // Nothing is left to continue.
  Child again(Arguments(true), folder_);
  EXPECT_EQ(again.Wait(), 2);
  EXPECT_THAT(again.Err(), HasSubstr("нет прерванной работы"));
}

TEST_F(CrashContinueTest, ADamagedJournalIsRefusedAndLeftAsItIs) {
  {
    Child child(Arguments(false), folder_);
    ASSERT_TRUE(child.Started());
    ASSERT_TRUE(WaitFor([&] { return site.RequestCount() >= 5; }, std::chrono::seconds(60)));
    child.Signal(SIGKILL);
    child.Wait();
  }
  const fs::path journal = OnlyFile(".journal");
  std::string bytes = ReadAll(journal);
  bytes[bytes.find('\n') + 5] ^= 0x20;
  WriteAll(journal, bytes);
  const std::string results = ReadAll(OnlyFile(".tab"));
  const std::size_t requests = site.RequestCount();

  Child continued(Arguments(true), folder_);
  EXPECT_EQ(continued.Wait(), 2);
  EXPECT_THAT(continued.Err(), HasSubstr("поврежден"));
  EXPECT_EQ(ReadAll(journal), bytes);
  EXPECT_EQ(ReadAll(OnlyFile(".tab")), results);
  EXPECT_EQ(site.RequestCount(), requests);

  // Without --continue the run is named and left alone; a new run starts beside it.
  Child fresh(Arguments(false), folder_);
  ASSERT_TRUE(WaitFor([&] { return fresh.Err().find("прерванная работа") != std::string::npos; },
                      std::chrono::seconds(60)));
  EXPECT_THAT(fresh.Err(), HasSubstr(journal.stem().string() + ".tab"));
  fresh.Signal(SIGKILL);
  fresh.Wait();
  EXPECT_EQ(ReadAll(journal), bytes);
  EXPECT_EQ(ReadAll(journal.parent_path() / (journal.stem().string() + ".tab")), results);
}

// --continue takes the run's own selection, and the proxy file is checked as for a new run.
TEST_F(CrashContinueTest, ContinueRefusesASelectionAndAnUnusableProxyFile) {
  struct Case {
    std::vector<std::string> extra;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"--all-cities"}, "С --continue города и рубрики не указываются"},
      {{"--proxy"}, "Задан --proxy, но"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> arguments = Arguments(true);
    arguments.insert(arguments.end(), c.extra.begin(), c.extra.end());
    Child child(arguments, folder_);
    EXPECT_EQ(child.Wait(), 2) << c.message;
    EXPECT_THAT(child.Err(), HasSubstr(c.message));
  }
  EXPECT_EQ(site.RequestCount(), 0u);
}

}  // namespace
}  // namespace mirava::testing
