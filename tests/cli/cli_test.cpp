// mirava-cli as other tools drive it: bad input, a whole run, and a stop by SIGINT, against a
// fake site on 127.0.0.1.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sqlite3.h>

#include "analysis/organization_row.h"
#include "analysis/text_encoding.h"
#include "tests/support/fake_directory.h"
#include "tests/support/fake_site.h"
#include "tests/support/wait_for.h"

extern char** environ;

namespace mirava::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

// mirava-cli started with its standard output and error going to files, or its standard output
// to `stdout_fd` when one is given.
class CliProcess {
 public:
  CliProcess(const std::vector<std::string>& arguments, const fs::path& folder, int stdout_fd = -1)
      : out_(folder / "cli-stdout.txt"), err_(folder / "cli-stderr.txt") {
    std::vector<std::string> all{MIRAVA_CLI_PATH};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : all) {
      argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdout_fd >= 0) {
      posix_spawn_file_actions_adddup2(&actions, stdout_fd, STDOUT_FILENO);
    } else {
      posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out_.c_str(),
                                       O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err_.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int error = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
      pid_ = -1;
    }
  }
  ~CliProcess() {
    if (pid_ > 0 && !status_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }

  bool Started() const { return pid_ > 0; }
  void Signal(int signal) { ::kill(pid_, signal); }

  // The exit status, or -1 when the program did not end within `timeout` (0: has it ended?).
  int Wait(std::chrono::seconds timeout = std::chrono::seconds(120)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!status_) {
      int status = 0;
      const pid_t ended = ::waitpid(pid_, &status, WNOHANG);
      if (ended == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      } else if (std::chrono::steady_clock::now() > deadline) {
        return -1;
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    }
    return *status_;
  }

  std::string Out() const { return ReadAll(out_); }
  std::string Err() const { return ReadAll(err_); }

 private:
  fs::path out_;
  fs::path err_;
  pid_t pid_ = -1;
  std::optional<int> status_;
};

class CliTest : public ::testing::Test {
 protected:
  CliTest() {
    static int counter = 0;
    folder_ = fs::temp_directory_path() /
              ("mirava-cli-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    fs::create_directories(folder_);
  }
  ~CliTest() override {
    std::error_code ignored;
    fs::permissions(folder_, fs::perms::owner_all, ignored);
    fs::remove_all(folder_, ignored);
  }

  void WriteFile(const std::string& name, const std::string& bytes) const {
    std::ofstream(folder_ / name, std::ios::binary | std::ios::trunc) << bytes;
  }
  // Lists whose cities point at `origin`.
  void WriteLists(const std::string& origin) const {
    WriteFile("cities.txt",
              "\xEF\xBB\xBFБарнаул=" + origin + "/barnaul/\r\nОмск=" + origin + "/omsk/\r\n");
    WriteFile("categories.txt", "\xEF\xBB\xBFКафе=kafe/\r\nБары=bary/\r\nСуши=sushi/\r\n");
  }
  std::string Folder() const { return folder_.string(); }
  std::vector<fs::path> Files(const std::string& prefix, const std::string& extension) const {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(folder_)) {
      const std::string name = entry.path().filename().string();
      if (name.starts_with(prefix) && entry.path().extension() == extension) {
        found.push_back(entry.path());
      }
    }
    return found;
  }

  fs::path folder_;
};

TEST_F(CliTest, HelpIsInRussianAndEnglish) {
  CliProcess cli({"--help"}, folder_);
  ASSERT_TRUE(cli.Started());
  EXPECT_EQ(cli.Wait(), 0);
  EXPECT_THAT(cli.Out(), HasSubstr("Использование: mirava-cli"));
  EXPECT_THAT(cli.Out(), HasSubstr("Usage: mirava-cli"));
  EXPECT_THAT(cli.Out(), HasSubstr("--all-categories"));
}

struct BadInputCase {
  const char* Name;
  std::vector<std::string> Arguments;  // besides --folder and --no-open
  std::string Message;
};

class CliBadInputTest : public CliTest, public ::testing::WithParamInterface<BadInputCase> {};

// A message naming the fault on standard error, status 2, and nothing written.
TEST_P(CliBadInputTest, GivesAMessageAndStatusTwo) {
  WriteLists("http://127.0.0.1:1");
  std::vector<std::string> arguments{"--folder", Folder(), "--no-open"};
  arguments.insert(arguments.end(), GetParam().Arguments.begin(), GetParam().Arguments.end());
  if (std::string(GetParam().Name) == "empty_city_list") {
    WriteFile("cities.txt", "");
  } else if (std::string(GetParam().Name) == "proxy_file_without_usable_line") {
    WriteFile("proxy.txt", "\r\n127.0.0.1\r\nuser:password@host\r\n");
  } else if (std::string(GetParam().Name) == "unwritable_folder") {
    fs::create_directories(folder_ / "out");
    fs::permissions(folder_, fs::perms::owner_read | fs::perms::owner_exec);
    if (::access(Folder().c_str(), W_OK) == 0) {
      GTEST_SKIP() << "root writes anywhere";
    }
  }
  // Its output goes to a folder of its own, which stays writable.
  fs::create_directories(folder_ / "out");
  CliProcess cli(arguments, folder_ / "out");
  ASSERT_TRUE(cli.Started());
  EXPECT_EQ(cli.Wait(), 2);
  EXPECT_THAT(cli.Err(), HasSubstr(GetParam().Message));
  EXPECT_THAT(Files("data", ".tab"), ::testing::IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, CliBadInputTest,
    ::testing::Values(
        BadInputCase{
            "unknown_city", {"--city", "Тверь", "--all-categories"}, "нет городов «Тверь»"},
        BadInputCase{"unknown_category",
                     {"--all-cities", "--category", "кафе", "--category", "Пиццерии"},
                     "нет рубрик «Пиццерии»"},
        BadInputCase{"no_city", {"--all-categories"}, "Не выбран ни один город"},
        BadInputCase{"no_category", {"--all-cities"}, "Не выбрана ни одна рубрика"},
        BadInputCase{
            "threads_zero", {"--all-cities", "--all-categories", "--threads", "0"}, "от 1 до 1000"},
        BadInputCase{"threads_too_many",
                     {"--all-cities", "--all-categories", "--threads", "1001"},
                     "от 1 до 1000"},
        BadInputCase{"threads_not_a_number",
                     {"--all-cities", "--all-categories", "--threads", "4x"},
                     "от 1 до 1000"},
        BadInputCase{"negative_interval",
                     {"--all-cities", "--all-categories", "--interval", "-1"},
                     "Интервал"},
        BadInputCase{
            "missing_value", {"--all-cities", "--all-categories", "--city"}, "нужно значение"},
        BadInputCase{"unknown_option",
                     {"--all-cities", "--all-categories", "--fast"},
                     "Неизвестный параметр «--fast»"},
        BadInputCase{
            "empty_city_list", {"--all-cities", "--all-categories"}, "cities.txt не найден"},
        BadInputCase{
            "unwritable_folder", {"--all-cities", "--all-categories"}, "нельзя записать файлы"},
        BadInputCase{"proxy_without_proxy_file",
                     {"--all-cities", "--all-categories", "--proxy"},
                     "Задан --proxy, но файла proxy.txt нет"},
        BadInputCase{"proxy_file_without_usable_line",
                     {"--all-cities", "--all-categories", "--proxy"},
                     "в файле proxy.txt нет ни одной годной строки"},
        BadInputCase{"refresh_days_without_only_new",
                     {"--all-cities", "--all-categories", "--refresh-days", "30"},
                     "действует только вместе с --only-new"},
        BadInputCase{"negative_refresh_days",
                     {"--all-cities", "--all-categories", "--only-new", "--refresh-days", "-1"},
                     "не меньше 0"},
        BadInputCase{"export_with_a_selection",
                     {"--export-base", "base.xlsx", "--all-cities"},
                     "только выгружает базу организаций"},
        BadInputCase{"since_without_export",
                     {"--all-cities", "--all-categories", "--since", "2026-12-01"},
                     "только с --export-base"},
        BadInputCase{"since_not_a_date",
                     {"--export-base", "base.xlsx", "--since", "1.12.2026"},
                     "пишется как ГГГГ-ММ-ДД"},
        BadInputCase{"since_no_such_day",
                     {"--export-base", "base.xlsx", "--since", "2026-02-30"},
                     "Такого дня нет в календаре"}),
    [](const auto& info) { return std::string(info.param.Name); });

// A run in list order whatever the order of the options; the log on standard output ends with
// the line that names the log file, which holds the same lines.
TEST_F(CliTest, CompleteRunWritesItsFilesAndEndsWithStatusZero) {
  FakeSite site;
  site.SetFallback(FakeResponse::Page("<html>nothing here</html>"));
  WriteLists(site.Origin());
  CliProcess cli({"--category", "Суши", "--category", "кафе", "--city", "Омск", "--city", "Барнаул",
                  "--interval", "0", "--folder", Folder(), "--no-open"},
                 folder_);
  ASSERT_TRUE(cli.Started());
  ASSERT_EQ(cli.Wait(), 0) << cli.Err();
  EXPECT_EQ(site.Paths(), (std::vector<std::string>{"/barnaul/kafe/", "/barnaul/sushi/",
                                                    "/omsk/kafe/", "/omsk/sushi/"}));
  const std::string out = cli.Out();
  EXPECT_THAT(out, HasSubstr(": Начинаем работу по заданному списку\n"));
  EXPECT_THAT(out, HasSubstr(": Сбор данных завершен\n"));
  const auto logs = Files("log", ".txt");
  ASSERT_EQ(logs.size(), 1u);
  EXPECT_THAT(out, HasSubstr(": Работа завершена, лог записан в " + logs[0].string() + "\n"));
  std::string expected_log = out;
  for (std::size_t at = 0; (at = expected_log.find('\n', at)) != std::string::npos; at += 2) {
    expected_log.replace(at, 1, "\r\n");
  }
  EXPECT_EQ(ReadAll(logs[0]), expected_log);
  EXPECT_THAT(cli.Err(), HasSubstr("страниц 4 из 4, строк 0"));
  ASSERT_EQ(Files("data", ".xlsx").size(), 1u);
}

// SIGINT stops the run as the stop button does: the stop's lines, a results file of whole lines
// and status 3, while the site still holds the worker's request.
TEST_F(CliTest, SigintStopsTheRunLikeTheStopButton) {
  FakeSite site;
  site.SetFallback(FakeResponse::Silence(std::chrono::minutes(5)));
  WriteLists(site.Origin());
  CliProcess cli(
      {"--all-cities", "--all-categories", "--interval", "0", "--folder", Folder(), "--no-open"},
      folder_);
  ASSERT_TRUE(cli.Started());
  ASSERT_TRUE(WaitFor([&] { return site.RequestCount() == 1; }, std::chrono::seconds(60)));
  cli.Signal(SIGINT);
  ASSERT_EQ(cli.Wait(std::chrono::seconds(60)), 3) << cli.Err();

  const std::string out = cli.Out();
  EXPECT_THAT(out, HasSubstr(": Останавливаем работу\n"));
  EXPECT_THAT(out, HasSubstr(": Запускаем формирование файла Excel...\n"));
  EXPECT_THAT(out, HasSubstr(": Работа завершена, лог записан в "));
  EXPECT_THAT(out, Not(HasSubstr("Сбор данных завершен")));
  const auto results = Files("data", ".tab");
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(ReadAll(results[0]), "\xEF\xBB\xBF" + analysis::HeaderLine() + "\r\n");
  EXPECT_EQ(site.RequestCount(), 1u);
}

// A second SIGINT ends the program at once, even when it cannot get on with ending by itself: its
// standard output is a pipe nobody reads and that is full, so the line of the first stop blocks
// it for good. The run itself has stopped and saved its files by then, whole.
TEST_F(CliTest, SecondSigintEndsAtOnceWithStatus130) {
  FakeSite site;
  site.SetFallback(FakeResponse::Silence(std::chrono::minutes(5)));
  WriteLists(site.Origin());
  int ends[2];
  ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
  const int read_end = ends[0];
  const int write_end = ends[1];
  CliProcess cli(
      {"--all-cities", "--all-categories", "--interval", "0", "--folder", Folder(), "--no-open"},
      folder_, write_end);
  ASSERT_TRUE(cli.Started());
  ASSERT_TRUE(WaitFor([&] { return site.RequestCount() == 1; }, std::chrono::seconds(60)));

  // Filled through a second, non-blocking opening of the pipe: the program's own end stays
  // blocking, so its next line waits until someone reads.
  const int filler =
      ::open(("/proc/self/fd/" + std::to_string(write_end)).c_str(), O_WRONLY | O_NONBLOCK);
  ASSERT_GE(filler, 0);
  const std::string block(4096, '.');
  while (::write(filler, block.data(), block.size()) > 0) {
  }
  ASSERT_EQ(errno, EAGAIN);
  ::close(filler);
  ::close(write_end);

  cli.Signal(SIGINT);
  std::vector<fs::path> logs;
  ASSERT_TRUE(WaitFor(
      [&] {
        logs = Files("log", ".txt");
        return logs.size() == 1 && ReadAll(logs[0]).find("Работа завершена") != std::string::npos;
      },
      std::chrono::seconds(60)));
  ASSERT_EQ(cli.Wait(std::chrono::seconds(0)), -1) << "the stop alone should not end it here";

  cli.Signal(SIGINT);
  EXPECT_EQ(cli.Wait(std::chrono::seconds(30)), 130);
  ::close(read_end);

  const std::string log = ReadAll(logs[0]);
  EXPECT_THAT(log, HasSubstr(": Останавливаем работу\r\n"));
  EXPECT_THAT(log, Not(HasSubstr("Сбор данных завершен")));
  const auto results = Files("data", ".tab");
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(ReadAll(results[0]), "\xEF\xBB\xBF" + analysis::HeaderLine() + "\r\n");
}

class CliSiteChangeTest : public CliTest {
 protected:
  void WriteListsOf(const FakeDirectory& directory, const FakeSite& site) const {
    std::string cities = "\xEF\xBB\xBF";
    for (std::size_t city = 0; city < directory.Cities().size(); ++city) {
      cities +=
          directory.Cities()[city].Name + "=" + directory.CityValue(site.Origin(), city) + "\r\n";
    }
    std::string categories = "\xEF\xBB\xBF";
    for (const DirectoryCategory& category : directory.Categories()) {
      categories += category.Name + "=" + category.Path + "\r\n";
    }
    WriteFile("cities.txt", cities);
    WriteFile("categories.txt", categories);
  }
};

// The alarm stops the run as Ctrl+C does, with a status of its own; once the site is back to
// normal the run is continued to its end.
TEST_F(CliSiteChangeTest, UnrecognisedPagesStopTheRunWithStatusFourAndItContinuesLater) {
  FakeDirectory directory({.Seed = 5, .Size = DirectorySize::Demo, .RobotCheckAfter = 5});
  FakeSite site;
  directory.Attach(site);
  WriteListsOf(directory, site);
  // Three of the smaller rubrics of one city: some hundred pages.
  const std::vector<std::string> run{"--city",     directory.Cities()[0].Name,
                                     "--category", directory.Categories()[1].Name,
                                     "--category", directory.Categories()[2].Name,
                                     "--category", directory.Categories()[3].Name,
                                     "--threads",  "2",
                                     "--interval", "0",
                                     "--folder",   Folder(),
                                     "--no-open"};
  {
    CliProcess cli(run, folder_);
    ASSERT_TRUE(cli.Started());
    ASSERT_EQ(cli.Wait(), 4) << cli.Err();
    EXPECT_THAT(cli.Out(), HasSubstr(": Страницы сайта перестали распознаваться: 20 подряд ("));
    EXPECT_THAT(cli.Out(), HasSubstr(": Останавливаем работу\n"));
    EXPECT_THAT(cli.Out(), HasSubstr(": Работа прервана, ее можно продолжить"));
    EXPECT_THAT(cli.Out(), Not(HasSubstr("Сбор данных завершен")));
    EXPECT_THAT(cli.Err(), HasSubstr("mirava-cli: Заполнено: "));
    EXPECT_THAT(cli.Err(), HasSubstr("mirava-cli --continue"));
    EXPECT_EQ(Files("data", ".xlsx").size(), 1u);
    EXPECT_EQ(Files("log", ".txt").size(), 1u);
  }

  directory.BackToNormal();
  CliProcess continued(
      {"--continue", "--threads", "2", "--interval", "0", "--folder", Folder(), "--no-open"},
      folder_);
  ASSERT_TRUE(continued.Started());
  ASSERT_EQ(continued.Wait(), 0) << continued.Err();
  EXPECT_THAT(continued.Out(), HasSubstr(": Сбор данных завершен\n"));
  EXPECT_THAT(continued.Out(), Not(HasSubstr("перестали распознаваться")));
}

TEST_F(CliSiteChangeTest, CheckPassesOnTheDirectoryAndFailsWithStatusFourOnAChangedOne) {
  struct Case {
    std::optional<int> changed_after;
    int status;
    std::string verdict;
  };
  const Case cases[] = {
      {std::nullopt, 0, ": Проверка пройдена: распознаны все страницы (6)"},
      {0, 4,
       ": Проверка не пройдена: не распознаны 5 из 6 страниц. Возможно, сайт изменил страницы или "
       "показывает проверку «я не робот»; ни на одной странице организации не найдено: "
       "Организация, Адрес, Город, Телефон, WhatsApp, Telegram, Max, Сайт, VK, TG"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    FakeDirectory directory(
        {.Seed = 5, .Size = DirectorySize::Demo, .ChangedAfter = c.changed_after});
    FakeSite site;
    directory.Attach(site);
    WriteListsOf(directory, site);
    CliProcess cli({"--check", "--all-cities", "--all-categories", "--interval", "0", "--folder",
                    Folder(), "--no-open"},
                   folder_);
    ASSERT_TRUE(cli.Started());
    EXPECT_EQ(cli.Wait(), c.status) << cli.Err();
    EXPECT_THAT(cli.Out(), HasSubstr(c.verdict));
    EXPECT_EQ(site.RequestCount(), 6u);
    EXPECT_THAT(Files("data", ".tab"), ::testing::IsEmpty());
    EXPECT_THAT(Files("log", ".txt"), ::testing::IsEmpty());
  }
}

// A run started through a proxy and interrupted goes on through it: the site sees no request
// from the operator's own address, and the settings the run continues with are named.
TEST_F(CliSiteChangeTest, ContinueKeepsTheRecordedThreadsIntervalAndProxyMode) {
  FakeDirectory directory({.Seed = 5, .Size = DirectorySize::Demo});
  FakeSite site;   // direct requests land here
  FakeSite proxy;  // a plain-HTTP proxy: it gets absolute-form requests and answers for the site
  directory.Attach(site);
  proxy.SetHandler([&directory, origin = site.Origin()](const RecordedRequest& request) {
    return std::optional<FakeResponse>(directory.Respond(origin, request));
  });
  WriteListsOf(directory, site);
  WriteFile("proxy.txt", "127.0.0.1:" + std::to_string(proxy.Port()) + "\r\n");
  {
    CliProcess first(
        {"--city", directory.Cities()[0].Name, "--category", directory.Categories()[1].Name,
         "--threads", "2", "--proxy", "--folder", Folder(), "--no-open"},
        folder_);
    ASSERT_TRUE(first.Started());
    ASSERT_TRUE(WaitFor([&] { return proxy.RequestCount() >= 6; }, std::chrono::seconds(60)));
    first.Signal(SIGINT);
    ASSERT_EQ(first.Wait(std::chrono::seconds(60)), 3) << first.Err();
  }
  EXPECT_EQ(site.RequestCount(), 0u);

  CliProcess continued({"--continue", "--folder", Folder(), "--no-open"}, folder_);
  ASSERT_TRUE(continued.Started());
  ASSERT_EQ(continued.Wait(), 0) << continued.Err();
  EXPECT_THAT(continued.Err(), HasSubstr("; потоков 2, интервал 0 с, через прокси из proxy.txt"));
  EXPECT_EQ(site.RequestCount(), 0u) << "a continued proxy run sent requests directly";
  for (const RecordedRequest& request : proxy.Requests()) {
    EXPECT_TRUE(request.Target.starts_with("http://")) << request.Target;
  }
  EXPECT_THAT(continued.Out(), HasSubstr(": Сбор данных завершен\n"));
}

TEST_F(CliSiteChangeTest, ContinueTakesAnOptionOverItsRecordedValueOnly) {
  FakeSite site;
  site.SetFallback(FakeResponse::Silence(std::chrono::minutes(5)));
  WriteLists(site.Origin());
  {
    CliProcess first({"--all-cities", "--all-categories", "--threads", "3", "--interval", "0",
                      "--folder", Folder(), "--no-open"},
                     folder_);
    ASSERT_TRUE(first.Started());
    ASSERT_TRUE(WaitFor([&] { return site.RequestCount() >= 1; }, std::chrono::seconds(60)));
    first.Signal(SIGINT);
    ASSERT_EQ(first.Wait(std::chrono::seconds(60)), 3) << first.Err();
  }
  struct Case {
    std::vector<std::string> options;
    std::string settings;
  };
  const Case cases[] = {
      {{}, "потоков 3, интервал 0 с, напрямую, без прокси"},
      {{"--threads", "5"}, "потоков 5, интервал 0 с, напрямую, без прокси"},
      // Each continuation records what it went on with.
      {{"--interval", "7"}, "потоков 5, интервал 7 с, напрямую, без прокси"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> arguments{"--continue", "--folder", Folder(), "--no-open"};
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    CliProcess continued(arguments, folder_);
    ASSERT_TRUE(continued.Started());
    // Once the run is under way, so the stop finds its handler in place.
    ASSERT_TRUE(WaitFor([&] { return continued.Out().find("Продолжаем") != std::string::npos; },
                        std::chrono::seconds(60)));
    EXPECT_THAT(continued.Err(), HasSubstr("; " + c.settings + "\n"));
    continued.Signal(SIGINT);
    EXPECT_EQ(continued.Wait(std::chrono::seconds(60)), 3) << continued.Err();
  }
  // Switching to proxies is said explicitly, and needs a proxy.txt.
  CliProcess switched({"--continue", "--proxy", "--folder", Folder(), "--no-open"}, folder_);
  ASSERT_TRUE(switched.Started());
  EXPECT_EQ(switched.Wait(), 2);
  EXPECT_THAT(switched.Err(), HasSubstr("Задан --proxy, но файла proxy.txt нет"));
}

// The log is written as the run goes: a run killed halfway leaves every line up to the kill.
TEST_F(CliSiteChangeTest, AKilledRunLeavesItsLogUpToTheKill) {
  FakeDirectory directory({.Seed = 5, .Size = DirectorySize::Demo});
  FakeSite site;
  directory.Attach(site);
  WriteListsOf(directory, site);
  CliProcess cli(
      {"--city", directory.Cities()[0].Name, "--category", directory.Categories()[1].Name,
       "--threads", "2", "--interval", "0", "--folder", Folder(), "--no-open"},
      folder_);
  ASSERT_TRUE(cli.Started());
  ASSERT_TRUE(WaitFor([&] { return site.RequestCount() >= 12; }, std::chrono::seconds(60)));
  cli.Signal(SIGKILL);
  ASSERT_EQ(cli.Wait(), 128 + SIGKILL);

  const auto split = [](const std::string& text, const std::string& separator) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find(separator, start)) != std::string::npos;
         start = end + separator.size()) {
      lines.push_back(text.substr(start, end - start));
    }
    return lines;
  };
  const auto logs = Files("log", ".txt");
  ASSERT_EQ(logs.size(), 1u);
  const std::vector<std::string> saved = split(ReadAll(logs[0]), "\r\n");
  const std::vector<std::string> shown = split(cli.Out(), "\n");
  ASSERT_GE(shown.size(), 10u);
  // A line goes to the file as it is handed to the screen, so at most the last one shown may
  // have missed the kill; the file may also hold lines not yet shown.
  EXPECT_GE(saved.size() + 1, shown.size());
  const std::size_t common = std::min(saved.size(), shown.size());
  EXPECT_EQ(std::vector<std::string>(saved.begin(), saved.begin() + common),
            std::vector<std::string>(shown.begin(), shown.begin() + common));
}

TEST_F(CliTest, HelpTellsOfTheCheckAndStatusFour) {
  CliProcess cli({"--help"}, folder_);
  ASSERT_TRUE(cli.Started());
  EXPECT_EQ(cli.Wait(), 0);
  EXPECT_THAT(cli.Out(), HasSubstr("--check"));
  EXPECT_THAT(cli.Out(), HasSubstr("4 — страницы сайта перестали распознаваться"));
  EXPECT_THAT(cli.Out(), HasSubstr("UnrecognisedPagesLimit"));
  CliProcess both({"--check", "--continue"}, folder_);
  ASSERT_TRUE(both.Started());
  EXPECT_EQ(both.Wait(), 2);
}

// The organization base from the command line: a second run with --only-new fetches no known
// organization, says so in its summary, and the base goes into a workbook.
TEST_F(CliSiteChangeTest, OnlyNewRepeatsFetchNoKnownOrganizationAndTheBaseIsExported) {
  FakeDirectory directory({.Seed = 5, .Size = DirectorySize::Small});
  FakeSite site;
  directory.Attach(site);
  WriteListsOf(directory, site);
  const std::string organizations = std::to_string(directory.Organizations().size());
  const std::vector<std::string> run{"--all-cities", "--all-categories", "--interval", "0",
                                     "--folder",     Folder(),           "--no-open"};
  {
    CliProcess first(run, folder_);
    ASSERT_TRUE(first.Started());
    ASSERT_EQ(first.Wait(), 0) << first.Err();
    EXPECT_THAT(first.Err(), HasSubstr("mirava-cli: База организаций: новых " + organizations +
                                       ", известных 0, пропущено известных 0, обновлено 0"));
  }
  const std::size_t requests = site.RequestCount();
  std::vector<std::string> repeat = run;
  repeat.push_back("--only-new");
  {
    CliProcess second(repeat, folder_);
    ASSERT_TRUE(second.Started());
    ASSERT_EQ(second.Wait(), 0) << second.Err();
    EXPECT_THAT(second.Err(), HasSubstr("mirava-cli: База организаций: новых 0, известных 0, "
                                        "пропущено известных " +
                                        organizations));
  }
  const std::vector<std::string> paths = site.Paths();
  for (std::size_t i = requests; i < paths.size(); ++i) {
    EXPECT_FALSE(paths[i].starts_with("/org/")) << paths[i];
  }

  // Three organizations the base forgets, as if the directory had added them since: a normal run
  // lists exactly those on its workbook's sheet "Новые".
  std::vector<std::string> added;
  for (const std::size_t index : {std::size_t{0}, std::size_t{3}, std::size_t{7}}) {
    added.push_back(site.Origin() + directory.Organizations()[index].Path);
  }
  {
    sqlite3* connection = nullptr;
    ASSERT_EQ(sqlite3_open((folder_ / "organizations.db").c_str(), &connection), SQLITE_OK);
    for (const std::string& link : added) {
      const std::string sql =
          "DELETE FROM organizations WHERE identity = '" + analysis::FoldCaseUtf8(link) + "'";
      EXPECT_EQ(sqlite3_exec(connection, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    }
    sqlite3_close(connection);
  }
  for (const fs::path& old : Files("data", ".xlsx")) {
    fs::rename(old, old.string() + ".earlier");
  }
  {
    CliProcess third(run, folder_);
    ASSERT_TRUE(third.Started());
    ASSERT_EQ(third.Wait(), 0) << third.Err();
    EXPECT_THAT(third.Err(), HasSubstr("mirava-cli: База организаций: новых 3, известных " +
                                       std::to_string(directory.Organizations().size() - 3)));
  }
  const auto workbooks = Files("data", ".xlsx");
  ASSERT_EQ(workbooks.size(), 1u);
  // Sheet names, then the links of the second sheet's rows, one a line, as a spreadsheet reads
  // them.
  const std::string script =
      "import openpyxl,sys; w=openpyxl.load_workbook(sys.argv[1]); "
      "print('|'.join(s.title for s in w.worksheets)); "
      "[print(r[0]) for r in w.worksheets[1].iter_rows(min_row=2, values_only=True)]";
  FILE* pipe = ::popen(
      ("/usr/bin/python3 -c \"" + script + "\" '" + workbooks[0].string() + "'").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string listed;
  char chunk[4096];
  for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) {
    listed.append(chunk, got);
  }
  ::pclose(pipe);
  std::istringstream lines(listed);
  std::string sheets;
  std::getline(lines, sheets);
  EXPECT_EQ(sheets, workbooks[0].stem().string() + "|Новые");
  std::vector<std::string> links;
  for (std::string line; std::getline(lines, line);) {
    links.push_back(line);
  }
  std::vector<std::string> expected_links = added;
  std::sort(links.begin(), links.end());
  std::sort(expected_links.begin(), expected_links.end());
  EXPECT_EQ(links, expected_links);

  const std::string workbook = (folder_ / "base.xlsx").string();
  CliProcess exported({"--export-base", workbook, "--folder", Folder()}, folder_);
  ASSERT_TRUE(exported.Started());
  ASSERT_EQ(exported.Wait(), 0) << exported.Err();
  EXPECT_THAT(exported.Out(), HasSubstr("организаций: " + organizations));
  EXPECT_EQ(ReadAll(workbook).substr(0, 2), "PK");

  CliProcess nothing_since(
      {"--export-base", workbook, "--since", "2099-01-01", "--folder", Folder()}, folder_);
  ASSERT_TRUE(nothing_since.Started());
  ASSERT_EQ(nothing_since.Wait(), 0) << nothing_since.Err();
  EXPECT_THAT(nothing_since.Out(), HasSubstr("организаций: 0"));
}

}  // namespace
}  // namespace mirava::testing
