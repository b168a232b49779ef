#include "engine/scraper.h"

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <thread>
#include <utility>

#include "analysis/organization_row.h"
#include "analysis/text_encoding.h"
#include "engine/log_line.h"
#include "output/workbook_export.h"

namespace mirava::engine {

namespace {

constexpr std::size_t kReportedErrorUnits = 200;

// The message of the exception being handled.
std::string CurrentErrorMessage() {
  try {
    throw;
  } catch (const std::exception& error) {
    return error.what();
  } catch (...) {
    return "неизвестная ошибка";
  }
}

// At most `limit` UTF-16 code units of `utf8`, without splitting a surrogate pair.
std::string FirstUtf16Units(std::string_view utf8, std::size_t limit) {
  std::u16string text = analysis::Utf8ToUtf16(utf8);
  if (text.size() > limit) {
    text.resize(limit);
    if (!text.empty() && text.back() >= 0xD800 && text.back() <= 0xDBFF) {
      text.pop_back();
    }
  }
  return analysis::Utf16ToUtf8(text);
}

std::uint32_t SecondsToMs(int seconds) {
  const long long ms = static_cast<long long>(seconds) * 1000;
  return static_cast<std::uint32_t>(
      std::clamp<long long>(ms, 0, std::numeric_limits<std::uint32_t>::max()));
}

}  // namespace

std::shared_ptr<TScraper> TScraper::Create(RunEnvironment environment) {
  if (!environment.Clock || !environment.Dispatcher || !environment.Pacing ||
      !environment.Rotation) {
    throw std::invalid_argument("a run needs a clock, a dispatcher, pacing and a proxy rotation");
  }
  return std::shared_ptr<TScraper>(new TScraper(std::move(environment)));
}

TScraper::TScraper(RunEnvironment environment) : environment_(std::move(environment)) {}

TScraper::~TScraper() = default;

void TScraper::Start() {
  if (started_.exchange(true)) {
    return;
  }
  try {
    std::thread([self = shared_from_this()]() mutable {
      self->Execute();
      // The run frees itself here, on its own thread, unless a caller still holds it.
      self.reset();
    }).detach();
  } catch (...) {
    started_.store(false);
    throw;
  }
}

void TScraper::Stop() {
  if (ended_.load()) {
    return;
  }
  {
    std::lock_guard<std::mutex> guard(pause_mutex_);
    paused_ = false;
    stop_.store(true);
  }
  pause_changed_.notify_all();
}

void TScraper::Pause() {
  if (!ended_.load()) {
    SetPaused(true);
  }
}

void TScraper::Resume() {
  if (!ended_.load()) {
    SetPaused(false);
  }
}

bool TScraper::IsPaused() const {
  std::lock_guard<std::mutex> guard(pause_mutex_);
  return paused_;
}

bool TScraper::HasEnded() const {
  return ended_.load();
}

bool TScraper::IsHeld() const {
  std::lock_guard<std::mutex> guard(pause_mutex_);
  return held_;
}

void TScraper::SetPaused(bool paused) {
  {
    std::lock_guard<std::mutex> guard(pause_mutex_);
    paused_ = paused;
  }
  pause_changed_.notify_all();
}

void TScraper::WaitWhilePaused() {
  std::unique_lock<std::mutex> lock(pause_mutex_);
  if (!paused_ || stop_.load()) {
    return;
  }
  held_ = true;
  pause_changed_.wait(lock, [this] { return !paused_ || stop_.load(); });
  held_ = false;
}

void TScraper::Execute() {
  try {
    if (SetUp()) {
      bool stopped = false;
      try {
        BuildJobList();
        RunCallback(&TScraper::ReadLimits);
        bool complete = false;
        for (;;) {
          WaitWhilePaused();
          if (stop_.load() || complete) {
            break;
          }
          try {
            complete = RunIteration();
          } catch (...) {
            ReportError(CurrentErrorMessage());
          }
        }
        if (stop_.load()) {
          StopRunningWorkers();
          stopped = true;
        }
      } catch (...) {
        ReportError(CurrentErrorMessage());
      }
      if (!stopped) {
        result = "ok";
        RunCallback(&TScraper::ReportRunResult);
      }
      Finish();
    }
  } catch (...) {
    // Only a window that refuses every callback gets here; nothing is left to report to.
  }
  ended_.store(true);
  // Stopped workers are waited for only now, with the window already free again.
  ReleaseWorkers();
}

bool TScraper::SetUp() {
  try {
    RequestMutex = std::make_shared<const platform::NamedLock>(environment_.RequestMutexName);
  } catch (...) {
    // Nothing has been disabled yet: the window is ready for another start as it is.
    return false;
  }
  try {
    environment_.Pacing->LastRequestTick.store(0);
    Lists = std::make_shared<WorkerLists>();
    CursorHourGlass = true;
    RunCallback(&TScraper::ShowBusyState);
    // Only entries that name a proxy: a blank or broken line must never turn into a request
    // from the operator's own address.
    UsableProxies proxies =
        SelectUsableProxies(LoadProxyList(environment_.ExeFolder + "proxy.txt"));
    Proxies = std::make_shared<const ProxyList>(std::move(proxies.Entries));
    auto services = std::make_shared<WorkerServices>();
    services->Clock = environment_.Clock;
    services->Dispatcher = environment_.Dispatcher;
    services->Pacing = environment_.Pacing;
    services->RequestMutex = RequestMutex;
    services->Proxies = Proxies;
    services->Rotation = environment_.Rotation;
    services->Fetch = environment_.Fetch;
    Services = std::move(services);
    SkippedProxyLines = std::move(proxies.SkippedLines);
    Log("Начинаем работу...");
    OpenResultsFile();
    return true;
  } catch (...) {
    const std::string message = CurrentErrorMessage();
    if (ResultsWriter) {
      try {
        ResultsWriter->Close();
      } catch (...) {
      }
      ResultsWriter.reset();
    }
    // The run cannot go on: say why and give the window back instead of leaving it disabled.
    try {
      Log("Ошибка: " + message);
    } catch (...) {
    }
    try {
      CursorHourGlass = false;
      RunCallback(&TScraper::ShowBusyState);
    } catch (...) {
    }
    return false;
  }
}

void TScraper::OpenResultsFile() {
  const std::uint32_t n = environment_.Clock->TickCount();
  const std::uint32_t m = environment_.Clock->TickCount();
  FileNames = output::FreeRunFileNames(environment_.ExeFolder, n, m);
  const std::string path = environment_.ExeFolder + FileNames.ResultsFileName;
  Log("Данные будут записываться в файл " + path);
  ResultsWriter = std::make_unique<output::ResultsWriter>(output::CreateResultsSink(path));
  ResultsWriter->WriteLine(analysis::HeaderLine());
}

void TScraper::BuildJobList() {
  std::vector<std::optional<std::string>> cities;
  std::vector<std::optional<std::string>> categories;
  RunOnWindowThread([&] {
    const auto selected_values = [](const IListBoxView& list,
                                    std::vector<std::optional<std::string>>& values) {
      const int count = list.Count();
      for (int i = 0; i < count; ++i) {
        if (list.IsSelected(i)) {
          values.push_back(list.Value(i));
        }
      }
    };
    selected_values(*Controls.CitiesListBox, cities);
    selected_values(*Controls.CatsListBox, categories);
  });
  bool skipped = false;
  for (const auto& city : cities) {
    for (const auto& category : categories) {
      // A placeholder item carries no address piece, so the pair names no page.
      if (!city || !category) {
        skipped = true;
        continue;
      }
      std::string address = *city + *category;
      VisitedList.Add(address);
      // Queued even when seen: two pairs that give one address are fetched twice.
      WorkQueue.push_back(std::move(address));
    }
  }
  if (skipped) {
    Log("Выбранные пункты списка без адреса пропущены");
  }
  ProgressBarPosition = 0;
  ProgressBarMax = static_cast<int>(VisitedList.Count());
}

bool TScraper::RunIteration() {
  StartStep();
  HarvestStep();
  const bool complete = RunComplete();
  environment_.Clock->SleepMs(environment_.LoopSleepMs);
  return complete;
}

void TScraper::StartStep() {
  std::size_t running = 0;
  {
    std::lock_guard<std::mutex> guard(Lists->WorkerListsLock);
    running = Lists->RunningList.size();
  }
  if (static_cast<long long>(running) >= ThreadsLimit || WorkQueue.empty()) {
    return;
  }
  std::string address = std::move(WorkQueue.front());
  WorkQueue.pop_front();
  if (analysis::Trim(std::string_view(address)).empty()) {
    return;
  }

  bool use_proxy = false;
  RunOnWindowThread([&] { use_proxy = Controls.UseProxyCheckBox->IsChecked(); });
  if (use_proxy && Proxies->empty()) {
    // The box was ticked during a run that has no usable proxy: sending directly would be
    // exactly what the operator asked not to do, so the run waits until he decides.
    WorkQueue.push_front(std::move(address));
    if (!NoProxyReported) {
      NoProxyReported = true;
      Log("Прокси включены, но годных прокси в proxy.txt при старте не было: запросы не "
          "отправляются. Снимите галочку «Использовать прокси из файла proxy.txt» или "
          "остановите работу и исправьте proxy.txt");
    }
    return;
  }
  NoProxyReported = false;
  if (use_proxy && !SkippedProxyLines.empty()) {
    // Once, when proxies are first used; without the box they do not matter.
    Log(SkippedProxyLinesText(SkippedProxyLines));
    SkippedProxyLines.clear();
  }

  auto worker = std::make_unique<TScrapingThread>(Services);
  worker->Lists = Lists;
  worker->url = std::move(address);
  worker->LogsMemo = Controls.LogsMemo;
  worker->UseProxy = use_proxy;
  if (use_proxy) {
    worker->proxy = NextProxy(*Proxies, *environment_.Rotation).value_or(std::string());
  }
  worker->RequestInterval = SecondsToMs(RequestIntervalSec);

  // The worker joins RunningList only once it is complete, and leaves it again if its thread
  // cannot start: a worker that never runs would never hand itself over and the run would
  // never end.
  TScrapingThread* started = worker.get();
  Workers.emplace(started, std::move(worker));
  {
    std::lock_guard<std::mutex> guard(Lists->WorkerListsLock);
    Lists->RunningList.push_back(started);
  }
  try {
    started->Start();
  } catch (...) {
    {
      std::lock_guard<std::mutex> guard(Lists->WorkerListsLock);
      auto& running_list = Lists->RunningList;
      running_list.erase(std::find(running_list.begin(), running_list.end(), started));
    }
    Workers.erase(started);
    throw;
  }
  environment_.Clock->SleepMs(environment_.LoopSleepMs);
  RunCallback(&TScraper::ReadLimits);
}

void TScraper::HarvestStep() {
  TScrapingThread* worker = nullptr;
  {
    std::lock_guard<std::mutex> guard(Lists->WorkerListsLock);
    if (Lists->FinishedList.empty()) {
      return;
    }
    // Only this thread removes entries, so the front stays the same until the removal below.
    worker = Lists->FinishedList.front();
  }
  ++ProgressBarPosition;
  RunCallback(&TScraper::UpdateProgress);
  WaitWhilePaused();

  Log(worker->url + ": " + worker->statusText);
  if (worker->result == 1) {
    try {
      if (environment_.AnalyzePage) {
        environment_.AnalyzePage(worker->html, worker->url, CategoryByUrl, *this);
      } else {
        analysis::AnalyzePage(worker->html, worker->url, CategoryByUrl, *this);
      }
    } catch (...) {
      Log("Ошибка при обработке данных для " + worker->url + ": " + CurrentErrorMessage());
    }
  }
  // Destruction waits for the worker's thread, so the lock must not be held here.
  Workers.erase(worker);
  std::lock_guard<std::mutex> guard(Lists->WorkerListsLock);
  Lists->FinishedList.pop_front();
}

bool TScraper::RunComplete() {
  // Both lists under one holding, so a worker in the middle of its hand-off is never missed.
  std::lock_guard<std::mutex> guard(Lists->WorkerListsLock);
  return Lists->RunningList.empty() && Lists->FinishedList.empty() && WorkQueue.empty();
}

void TScraper::StopRunningWorkers() {
  std::lock_guard<std::mutex> guard(Lists->WorkerListsLock);
  for (TScrapingThread* worker : Lists->RunningList) {
    worker->Stop();
  }
}

void TScraper::ReportError(const std::string& message) {
  result = "ERROR_" + message;
  try {
    RunCallback(&TScraper::ReportRunResult);
  } catch (...) {
    // A window that cannot show the error cannot arm the pause either; the run goes on.
    return;
  }
  WaitWhilePaused();
}

void TScraper::Finish() {
  // Each step runs whatever the one before it did, so the window always gets its controls back.
  try {
    CloseResultsFile();
  } catch (...) {
    try {
      Log("Ошибка: " + CurrentErrorMessage());
    } catch (...) {
    }
  }
  try {
    ExportWorkbook();
  } catch (...) {
  }
  try {
    ProgressBarPosition = 0;
    RunCallback(&TScraper::UpdateProgress);
  } catch (...) {
  }
  CursorHourGlass = false;
  RunCallback(&TScraper::ShowBusyState);
}

void TScraper::CloseResultsFile() {
  std::unique_ptr<output::ResultsWriter> writer = std::move(ResultsWriter);
  if (writer) {
    writer->Close();
  }
}

void TScraper::ExportWorkbook() {
  Log("Запускаем формирование файла Excel...");
  try {
    const std::string& folder = environment_.ExeFolder;
    const std::string workbook_path = folder + FileNames.WorkbookFileName;
    const long long rows =
        output::ConvertResultsToWorkbook(folder + FileNames.ResultsFileName, workbook_path);
    Log("Файл сформирован, в нем " + std::to_string(rows) + " строк");
    Log("Открываем файл с результатами " + workbook_path);
    try {
      if (environment_.OpenWorkbook) {
        environment_.OpenWorkbook(workbook_path);
      } else {
        output::OpenWithDesktop(workbook_path);
      }
    } catch (...) {
      // Whether the desktop managed to open it is not our concern; the log is still saved.
    }
    const std::string log_path = folder + FileNames.LogFileName;
    Log("Работа завершена, лог записан в " + log_path);
    // Read on the window thread, after the line above, so it is the file's last line.
    RunOnWindowThread([&] { output::SaveRunLog(log_path, Controls.LogsMemo->Text()); });
  } catch (...) {
    Log("Ошибка: " + CurrentErrorMessage());
  }
}

void TScraper::ReleaseWorkers() {
  // Destroying a worker stops it and waits for its thread; none of them waits for this one.
  Workers.clear();
}

bool TScraper::EnqueuePage(const std::string& url) {
  if (!VisitedList.Add(url)) {
    return false;
  }
  WorkQueue.push_back(url);
  ++ProgressBarMax;
  return true;
}

void TScraper::AppendRow(const std::string& row) {
  ResultsWriter->WriteLine(row);
}

void TScraper::Log(const std::string& text) {
  LogMessageText = text;
  RunCallback(&TScraper::AddLogLine);
}

void TScraper::RunOnWindowThread(const std::function<void()>& callback) {
  environment_.Dispatcher->RunOnWindowThread(callback);
}

void TScraper::RunCallback(void (TScraper::*callback)()) {
  RunOnWindowThread([this, callback] { (this->*callback)(); });
}

void TScraper::AppendLogLine(std::string_view message) {
  Controls.LogsMemo->AppendLine(FormatLogLine(environment_.Dispatcher->LogTimestamp(), message));
}

void TScraper::AddLogLine() {
  AppendLogLine(LogMessageText);
}

void TScraper::ShowBusyState() {
  if (CursorHourGlass) {
    Controls.LogsMemo->Clear();
    AppendLogLine("Начинаем работу по заданному списку");
    Controls.StartButton->SetEnabled(false);
    Controls.CitiesListBox->SetEnabled(false);
    Controls.CatsListBox->SetEnabled(false);
    return;
  }
  // Before the controls come back, so a handler that sees them enabled sees the run ended.
  ended_.store(true);
  Controls.StartButton->SetEnabled(true);
  Controls.CitiesListBox->SetEnabled(true);
  Controls.CatsListBox->SetEnabled(true);
}

void TScraper::UpdateProgress() {
  IProgressView& bar = *Controls.ProgressBar;
  bar.SetMaximum(ProgressBarMax);
  bar.SetPosition(ProgressBarPosition);
  const int position = bar.Position();
  const int maximum = bar.Maximum();
  bar.SetHint(std::to_string(position) + " из " + std::to_string(maximum) + ", осталось " +
              std::to_string(maximum - position));
  environment_.Dispatcher->ProcessPendingMessages();
}

void TScraper::ReadLimits() {
  ThreadsLimit = Controls.LimitEdit->Value();
  RequestIntervalSec = Controls.IntervalSpinEdit->Value();
}

void TScraper::ArmResumeTimer() {
  Controls.ResumeTimer->Arm(environment_.AutoPauseMs);
}

void TScraper::ReportRunResult() {
  if (result.find("ERROR") == std::string::npos) {
    AppendLogLine("Сбор данных завершен");
    return;
  }
  const std::string_view message =
      std::string_view(result).substr(std::min<std::size_t>(6, result.size()));
  AppendLogLine("Ошибка: " + FirstUtf16Units(message, kReportedErrorUnits));
  AppendLogLine("Включаем паузу на 30 секунд");
  ArmResumeTimer();
  SetPaused(true);
}

}  // namespace mirava::engine
