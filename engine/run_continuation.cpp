#include "engine/run_continuation.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#include "output/results_file.h"
#include "platform/file_access.h"

namespace mirava::engine {

namespace {

namespace fs = std::filesystem;

fs::path PathOf(const std::string& utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8Of(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

bool IsJournalName(const std::string& name) {
  constexpr std::string_view kPrefix = "data";
  constexpr std::string_view kSuffix = ".journal";
  return name.size() > kPrefix.size() + kSuffix.size() && name.starts_with(kPrefix) &&
         name.ends_with(kSuffix);
}

std::string ResultsNameOfJournal(const std::string& journal_name) {
  return journal_name.substr(0, journal_name.size() - std::string_view(".journal").size()) + ".tab";
}

std::string Refusal(const std::string& file_name, const std::string& why) {
  return "Продолжить работу нельзя: файл " + file_name + " поврежден (" + why +
         "). Файлы оставлены без изменений.";
}

long long PagesLeft(const JournalContents& journal, const output::ResultsFileContents& results) {
  long long left = 0;
  std::string key;
  for (const QueuedPage& page : journal.Pages) {
    if (page.State == PageState::Done) {
      continue;
    }
    key = "\"" + page.Address + "\"";
    if (!results.RowKeys.contains(key)) {
      ++left;
    }
  }
  return left;
}

// The folder's journals, the newest first: that is the run the operator last worked on.
std::vector<std::string> JournalsNewestFirst(const std::string& folder) {
  std::vector<std::pair<fs::file_time_type, std::string>> journals;
  std::error_code error;
  for (fs::directory_iterator entry(PathOf(folder), error), end; !error && entry != end;
       entry.increment(error)) {
    const std::string name = Utf8Of(entry->path().filename());
    std::error_code ignored;
    if (IsJournalName(name) && entry->is_regular_file(ignored)) {
      journals.emplace_back(entry->last_write_time(ignored), name);
    }
  }
  if (error) {
    throw std::runtime_error(folder + ": " + error.message());
  }
  std::sort(journals.begin(), journals.end(), [](const auto& a, const auto& b) {
    return a.first != b.first ? a.first > b.first : a.second > b.second;
  });
  std::vector<std::string> names;
  for (auto& [time, name] : journals) {
    names.push_back(std::move(name));
  }
  return names;
}

}  // namespace

RunToContinue LoadRunToContinue(const std::string& folder, const std::string& results_file_name) {
  const std::string journal_name = output::JournalFileNameOf(results_file_name);
  std::optional<std::string> journal_bytes;
  std::optional<std::string> results_bytes;
  try {
    journal_bytes = platform::ReadFileIfPresent(folder + journal_name);
    results_bytes = platform::ReadFileIfPresent(folder + results_file_name);
  } catch (const std::exception& error) {
    throw ContinueRefused(std::string("Продолжить работу нельзя: ") + error.what());
  }
  if (!journal_bytes) {
    throw ContinueRefused("Продолжить работу нельзя: нет файла " + folder + journal_name);
  }
  if (!results_bytes) {
    throw ContinueRefused("Продолжить работу нельзя: нет файла " + folder + results_file_name);
  }
  auto journal = ReadJournal(*journal_bytes);
  journal_bytes.reset();
  if (const auto* damage = std::get_if<JournalDamage>(&journal)) {
    throw ContinueRefused(Refusal(journal_name, damage->Reason));
  }
  auto results = output::InspectResultsFile(*results_bytes);
  results_bytes.reset();
  if (const auto* damage = std::get_if<output::ResultsFileDamage>(&results)) {
    throw ContinueRefused(Refusal(results_file_name, damage->Reason));
  }
  RunToContinue run{results_file_name, std::move(std::get<JournalContents>(journal)),
                    std::move(std::get<output::ResultsFileContents>(results))};
  if (run.Journal.Complete) {
    throw ContinueRefused("Продолжать нечего: работа с файлом " + results_file_name +
                          " уже завершена");
  }
  return run;
}

std::optional<UnfinishedRun> FindUnfinishedRun(const std::string& folder) {
  for (const std::string& journal_name : JournalsNewestFirst(folder)) {
    // Ended runs are the common case: told by the journal's last line, before anything is
    // parsed. Killed before its first record was whole: the run had done nothing worth going on
    // with.
    const auto bytes = platform::ReadFileIfPresent(folder + journal_name);
    if (!bytes || JournalClosed(*bytes) || bytes->find('\n') == std::string::npos) {
      continue;
    }
    UnfinishedRun run;
    run.ResultsFileName = ResultsNameOfJournal(journal_name);
    try {
      RunToContinue loaded = LoadRunToContinue(folder, run.ResultsFileName);
      if (loaded.Journal.SetAside) {
        continue;
      }
      run.Rows = loaded.Results.Rows;
      run.Settings = loaded.Journal.Settings;
      run.PagesLeft = PagesLeft(loaded.Journal, loaded.Results);
    } catch (const ContinueRefused& refused) {
      run.Damage = refused.what();
    }
    return run;
  }
  return std::nullopt;
}

std::optional<std::string> LastCompletedRun(const std::string& folder, const std::string& except) {
  for (const std::string& journal_name : JournalsNewestFirst(folder)) {
    const std::string results = ResultsNameOfJournal(journal_name);
    if (results == except) {
      continue;
    }
    const auto bytes = platform::ReadFileIfPresent(folder + journal_name);
    if (bytes && JournalCompleted(*bytes)) {
      return results;
    }
  }
  return std::nullopt;
}

std::string DescribeUnfinishedRun(const UnfinishedRun& run) {
  return run.ResultsFileName + ": собрано организаций: " + std::to_string(run.Rows) +
         ", осталось страниц: " + std::to_string(run.PagesLeft);
}

void SetAsideUnfinishedRun(const std::string& folder, const std::string& results_file_name) {
  const std::string path = folder + output::JournalFileNameOf(results_file_name);
  const std::optional<std::string> bytes = platform::ReadFileIfPresent(path);
  if (!bytes) {
    return;
  }
  // Cut a torn last line first, so the record lands on a line of its own; a damaged journal is
  // set aside after its whole lines all the same.
  const std::size_t whole = bytes->rfind('\n') == std::string::npos ? 0 : bytes->rfind('\n') + 1;
  JournalWriter writer(platform::OpenSinkForAppend(path, whole));
  writer.SetAside();
  writer.Commit();
  writer.Sync();
  writer.Close();
}

}  // namespace mirava::engine
