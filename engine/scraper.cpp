#include "engine/scraper.h"

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <thread>
#include <utility>

#include "analysis/organization_row.h"
#include "analysis/text_encoding.h"
#include "engine/log_line.h"
#include "engine/run_continuation.h"
#include "output/field_coverage.h"
#include "output/tab_import.h"
#include "output/workbook_export.h"
#include "platform/desktop_open.h"
#include "platform/file_access.h"

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

// Where a check's journal goes: a check leaves no file behind.
class DiscardingSink final : public platform::IByteSink {
 public:
  void Write(std::string_view) override {}
  void Close() override {}
};

std::uint32_t SecondsToMs(int seconds) {
  const long long ms = static_cast<long long>(seconds) * 1000;
  return static_cast<std::uint32_t>(
      std::clamp<long long>(ms, 0, std::numeric_limits<std::uint32_t>::max()));
}

}  // namespace

std::shared_ptr<TScraper> TScraper::Create(RunEnvironment environment, RunRequest request) {
  if (!environment.Clock || !environment.Events || !environment.Pacing || !environment.Rotation) {
    throw std::invalid_argument("a run needs a clock, events, pacing and a proxy rotation");
  }
  return std::shared_ptr<TScraper>(new TScraper(std::move(environment), std::move(request)));
}

TScraper::TScraper(RunEnvironment environment, RunRequest request)
    : environment_(std::move(environment)),
      request_(std::move(request)),
      channel_(std::make_shared<RunEventChannel>(environment_.Events, environment_.LogTimestamp)),
      threads_limit_setting_(request_.ThreadsLimit),
      interval_setting_(request_.IntervalSec),
      use_proxy_setting_(request_.UseProxy),
      recognition_(request_.UnrecognisedPagesLimit) {}

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

void TScraper::SetThreadsLimit(int threads) {
  threads_limit_setting_.store(threads);
}

void TScraper::SetInterval(int seconds) {
  interval_setting_.store(seconds);
}

void TScraper::SetUseProxy(bool use_proxy) {
  use_proxy_setting_.store(use_proxy);
}

// Each action's line goes out before the run can act on it, so it precedes whatever the run
// announces in answer.
void TScraper::Stop() {
  if (ended_.load()) {
    return;
  }
  channel_->Line("Останавливаем работу");
  {
    std::lock_guard<std::mutex> guard(pause_mutex_);
    paused_ = false;
    auto_resume_from_.reset();
    stop_.store(true);
  }
  pause_changed_.notify_all();
}

void TScraper::Pause() {
  if (ended_.load()) {
    return;
  }
  channel_->Line("Включаем паузу");
  SetPaused(true);
}

void TScraper::Resume() {
  if (ended_.load() || !IsPaused()) {
    return;
  }
  channel_->Line("Отключаем паузу, продолжаем работу");
  hold_->Set(false);
  SetPaused(false);
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
    auto_resume_from_.reset();
  }
  pause_changed_.notify_all();
}

void TScraper::WaitWhilePaused() {
  std::unique_lock<std::mutex> lock(pause_mutex_);
  held_ = true;
  while (paused_ && !stop_.load()) {
    if (!auto_resume_from_) {
      pause_changed_.wait(lock);
      continue;
    }
    const std::uint32_t now = environment_.Clock->TickCount();
    if (platform::TickDiff(now, *auto_resume_from_) < TickMs(environment_.AutoPause)) {
      // The run's clock may be a test's, moved by hand: looked at again every poll.
      pause_changed_.wait_for(lock, environment_.Fetch.Poll);
      continue;
    }
    // The automatic resume is the operator's resume, line and all.
    lock.unlock();
    Resume();
    lock.lock();
  }
  held_ = false;
}

void TScraper::Execute() {
  RunOutcome outcome = RunOutcome::Failed;
  std::string set_up_failure;
  try {
    if (SetUp(set_up_failure)) {
      bool stopped = false;
      try {
        BuildJobList();
        ReadLimits();
        bool complete = false;
        for (;;) {
          try {
            // Before a pause holds the run, so what it did so far is durable while it waits.
            recorder_->SyncIfDue(ResultsWriter.get(), IsPaused());
          } catch (...) {
            ReportError(CurrentErrorMessage());
          }
          // A front end that failed to take an event is the run's error too, reported here
          // rather than where the event was announced.
          if (std::optional<std::string> refusal = channel_->TakeRefusal()) {
            ReportError(*refusal);
          }
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
        ReportRunComplete();
      } else if (request_.CheckOnly) {
        Log("Проверка остановлена");
      } else {
        ReportBaseCounts();
        ReportFieldCoverage();
        Log("Работа прервана, ее можно продолжить с места остановки: файл " + request_.Folder +
            file_names_.ResultsFileName);
      }
      Finish();
      outcome = stopped              ? RunOutcome::Stopped
                : failed_            ? RunOutcome::Failed
                : request_.CheckOnly ? check_.Outcome()
                                     : RunOutcome::Complete;
    }
  } catch (...) {
    // Only running out of memory gets here: the run still ends and frees the front end.
    if (!ended_.load()) {
      ShowBusyState(false);
    }
  }
  ended_.store(true);
  channel_->Ended(outcome, set_up_failure);
  // Stopped workers are waited for only now, with the window already free again.
  ReleaseWorkers();
}

bool TScraper::SetUp(std::string& failure) {
  try {
    RequestMutex = std::make_shared<const platform::NamedLock>(environment_.RequestMutexName);
  } catch (...) {
    // Nothing has been disabled yet: the front end is ready for another start as it is.
    failure = CurrentErrorMessage();
    return false;
  }
  try {
    environment_.Pacing->LastRequestTick.store(0);
    lists_ = std::make_shared<WorkerLists>();
    ShowBusyState(true);
    // Only entries that name a proxy: a blank or broken line must never turn into a request
    // from the operator's own address.
    UsableProxies proxies = SelectUsableProxies(LoadProxyList(request_.Folder + "proxy.txt"));
    proxies_ = std::make_shared<const ProxyList>(std::move(proxies.Entries));
    proxy_records_at_start_ = environment_.Rotation->Health.Records();
    auto services = std::make_shared<WorkerServices>();
    services->Clock = environment_.Clock;
    services->Events = channel_;
    services->Pacing = environment_.Pacing;
    services->RequestMutex = RequestMutex;
    services->Proxies = proxies_;
    services->Rotation = environment_.Rotation;
    services->Fetch = environment_.Fetch;
    services->Hold = hold_;
    services_ = std::move(services);
    skipped_proxy_lines_ = std::move(proxies.SkippedLines);
    Log("Начинаем работу...");
    OpenResultsFile();
    return true;
  } catch (...) {
    failure = CurrentErrorMessage();
    // What was opened is closed; the failure to report is the one that stopped the set-up.
    if (recorder_) {
      try {
        recorder_->Close(nullptr);
      } catch (...) {
      }
    }
    if (ResultsWriter) {
      try {
        ResultsWriter->Close();
      } catch (...) {
      }
      ResultsWriter.reset();
    }
    // The run cannot go on: say why and give the front end back instead of leaving it disabled.
    Log("Ошибка: " + failure);
    ShowBusyState(false);
    return false;
  }
}

void TScraper::OpenResultsFile() {
  if (request_.CheckOnly) {
    Log("Проверяем, распознает ли программа страницы сайта; файлы результатов не создаются");
    recorder_ =
        std::make_unique<RunRecorder>(std::make_unique<DiscardingSink>(), environment_.Clock);
    return;
  }
  if (request_.ContinueResultsFile) {
    OpenContinuedRun();
    return;
  }
  const std::uint32_t n = environment_.Clock->TickCount();
  const std::uint32_t m = environment_.Clock->TickCount();
  file_names_ = output::FreeRunFileNames(request_.Folder, n, m);
  const std::string path = request_.Folder + file_names_.ResultsFileName;
  Log("Данные будут записываться в файл " + path);
  ResultsWriter = std::make_unique<output::ResultsWriter>(platform::CreateResultsSink(path));
  ResultsWriter->WriteLine(analysis::HeaderLine());
  const std::string journal = output::JournalFileNameOf(file_names_.ResultsFileName);
  recorder_ = std::make_unique<RunRecorder>(platform::CreateResultsSink(request_.Folder + journal),
                                            environment_.Clock);
  OpenRunLog();
  OpenBase();
}

void TScraper::OpenRunLog() {
  channel_->AttachLog(std::make_unique<output::RunLogWriter>(
      platform::CreateResultsSink(request_.Folder + file_names_.LogFileName)));
  recorder_->SyncAlso([channel = channel_] { channel->SyncLog(); });
}

void TScraper::OpenBase() {
  base_ = std::make_unique<RunBase>(request_.Folder, file_names_.ResultsFileName, environment_.Now,
                                    request_.OnlyNew ? request_.RefreshDays : 0);
  std::string selection;
  for (const auto& part : {std::cref(request_.Cities), std::cref(request_.Categories)}) {
    for (const std::optional<std::string>& value : part.get()) {
      if (value) {
        selection += (selection.empty() ? "" : " ") + *value;
      }
    }
  }
  base::RunStart start;
  start.LogFile = file_names_.LogFileName;
  start.WorkbookFile = file_names_.WorkbookFileName;
  start.Selection = std::move(selection);
  base_->RecordStart(std::move(start));
  // Rows reach the base once the results file has made them durable, at most a second apart.
  recorder_->SyncAlso([this] {
    if (base_) {
      base_->Flush();
      ReportBaseFailure();
    }
  });
  ReportBaseFailure();
}

void TScraper::RecordEarlierRows() {
  if (!base_->Available()) {
    return;
  }
  // Read in pieces: the results file of a long run need not be in memory.
  constexpr std::size_t kBatch = 1000;
  platform::InputFile file(request_.Folder + file_names_.ResultsFileName);
  output::TTabRecordReader reader(
      [&file](char* buffer, std::size_t size) { return file.Read(buffer, size); });
  output::TabRecord record;
  std::vector<analysis::OrganizationRow> rows;
  bool header = true;
  while (reader.NextRecord(record)) {
    if (std::exchange(header, false)) {
      continue;
    }
    analysis::OrganizationRow& row = rows.emplace_back();
    for (std::size_t i = 0; i < row.size() && i < record.size(); ++i) {
      row[i] = std::move(record[i]);
    }
    if (rows.size() == kBatch) {
      base_->RecordEarlierRows(rows);
      rows.clear();
    }
  }
  base_->RecordEarlierRows(rows);
  ReportBaseFailure();
}

void TScraper::ReportBaseFailure() {
  if (!base_) {
    return;
  }
  if (std::optional<std::string> failure = base_->TakeFailure()) {
    Log(*failure);
    channel_->BaseUnavailable(*failure);
  }
}

bool TScraper::SkipKnownOrganization(const std::string& address) {
  if (!request_.OnlyNew || !base_ || !base_->Available() || !CategoryByUrl.Contains(address)) {
    return false;
  }
  switch (base_->Decide(address)) {
    case RunBase::Decision::Skip:
      base_->CountSkipped();
      return true;
    case RunBase::Decision::Refresh:
      refreshing_.insert(address);
      return false;
    case RunBase::Decision::Fetch:
      break;
  }
  return false;
}

void TScraper::ReportBaseCounts() {
  if (!base_) {
    return;
  }
  base_->Flush();
  ReportBaseFailure();
  const RunBase::Counts& counts = base_->counts();
  // A run that wrote and passed over nothing has nothing to say of the base.
  if (counts.New + counts.Known + counts.Skipped + counts.Refreshed > 0) {
    Log(RunBaseSummaryText(counts));
  }
}

void TScraper::OpenContinuedRun() {
  // Both files are read and checked before anything is written to either.
  RunToContinue run = LoadRunToContinue(request_.Folder, *request_.ContinueResultsFile);
  const std::uint32_t m = environment_.Clock->TickCount();
  file_names_ = output::FreeRunFileNames(request_.Folder, m, m);
  file_names_.ResultsFileName = run.ResultsFileName;
  file_names_.WorkbookFileName =
      run.ResultsFileName.substr(0, run.ResultsFileName.size() - 4) + ".xlsx";
  const std::string path = request_.Folder + file_names_.ResultsFileName;
  Log("Продолжаем прерванную работу, данные дописываются в файл " + path);
  const bool needs_header = run.Results.NeedsHeader;
  ResultsWriter =
      needs_header ? std::make_unique<output::ResultsWriter>(platform::OpenSinkForAppend(path, 0))
                   : std::make_unique<output::ResultsWriter>(
                         platform::OpenSinkForAppend(path, run.Results.WholeSize),
                         output::ResultsWriter::Continue{});
  if (needs_header) {
    ResultsWriter->WriteLine(analysis::HeaderLine());
  }
  const std::string journal = output::JournalFileNameOf(file_names_.ResultsFileName);
  recorder_ = std::make_unique<RunRecorder>(
      platform::OpenSinkForAppend(request_.Folder + journal, run.Journal.WholeSize),
      environment_.Clock);
  const RunRecorder::Restored restored =
      recorder_->Restore(std::move(run), request_, WorkQueue, VisitedList, CategoryByUrl);
  ProgressBarPosition = restored.Finished;
  rows_written_ = restored.Rows;
  OpenRunLog();
  OpenBase();
  RecordEarlierRows();
}

void TScraper::BuildJobList() {
  if (request_.ContinueResultsFile) {
    ProgressBarMax = static_cast<int>(VisitedList.Count());
    // The pages finished before the interruption count from the start, not from the first
    // harvest.
    UpdateProgress();
    return;
  }
  bool skipped = false;
  for (const auto& city : request_.Cities) {
    for (const auto& category : request_.Categories) {
      // A placeholder item carries no address piece, so the pair names no page.
      if (!city || !category) {
        skipped = true;
        continue;
      }
      std::string address = *city + *category;
      VisitedList.Add(address);
      // Queued even when seen: two pairs that give one address are fetched twice.
      WorkQueue.push_back(std::move(address));
      if (request_.CheckOnly) {
        break;  // a check reads the first job only
      }
    }
    if (request_.CheckOnly && !WorkQueue.empty()) {
      break;
    }
  }
  if (skipped) {
    Log("Выбранные пункты списка без адреса пропущены");
  }
  ProgressBarPosition = 0;
  ProgressBarMax = static_cast<int>(VisitedList.Count());
  recorder_->Begin(request_, WorkQueue);
}

bool TScraper::RunIteration() {
  StartStep();
  HarvestStep();
  const bool complete = RunComplete();
  if (complete) {
    recorder_->RunComplete();
  }
  recorder_->SyncIfDue(ResultsWriter.get());
  environment_.Clock->SleepMs(TickMs(environment_.LoopSleep));
  return complete;
}

void TScraper::StartStep() {
  // Known organizations are passed over all in one turn: they cost no request and no wait.
  bool skipped = false;
  while (!WorkQueue.empty() && SkipKnownOrganization(WorkQueue.front())) {
    WorkQueue.pop_front();
    ++ProgressBarPosition;
    skipped = true;
  }
  if (skipped) {
    UpdateProgress();
  }
  ReportBaseFailure();
  std::size_t running = 0;
  {
    std::lock_guard<std::mutex> guard(lists_->WorkerListsLock);
    running = lists_->RunningList.size();
  }
  if (static_cast<long long>(running) >= ThreadsLimit || WorkQueue.empty()) {
    return;
  }
  std::string address = std::move(WorkQueue.front());
  WorkQueue.pop_front();
  if (analysis::Trim(std::string_view(address)).empty()) {
    return;
  }

  const bool use_proxy = use_proxy_setting_.load();
  if (use_proxy && proxies_->empty()) {
    // The box was ticked during a run that has no usable proxy: sending directly would be
    // exactly what the operator asked not to do, so the run waits until he decides.
    WorkQueue.push_front(std::move(address));
    if (!no_proxy_reported_) {
      no_proxy_reported_ = true;
      Log("Прокси включены, но годных прокси в proxy.txt при старте не было: запросы не "
          "отправляются. Снимите галочку «Использовать прокси из файла proxy.txt» или "
          "остановите работу и исправьте proxy.txt");
    }
    return;
  }
  no_proxy_reported_ = false;
  if (use_proxy && !skipped_proxy_lines_.empty()) {
    // Once, when proxies are first used; without the box they do not matter.
    Log(SkippedProxyLinesText(skipped_proxy_lines_));
    skipped_proxy_lines_.clear();
  }

  auto worker = std::make_unique<TScrapingThread>(services_);
  worker->Lists = lists_;
  worker->url = std::move(address);
  worker->UseProxy = use_proxy;
  if (use_proxy) {
    if (auto turn =
            NextUsableProxy(*proxies_, *environment_.Rotation, environment_.Clock->TickCount())) {
      worker->proxy = std::move(turn->Entry);
    }
  }
  worker->RequestInterval = SecondsToMs(RequestIntervalSec);

  // The worker joins RunningList only once it is complete, and leaves it again if its thread
  // cannot start: a worker that never runs would never hand itself over and the run would
  // never end.
  TScrapingThread* started = worker.get();
  recorder_->WorkerStarted(started, started->url);
  workers_.emplace(started, std::move(worker));
  {
    std::lock_guard<std::mutex> guard(lists_->WorkerListsLock);
    lists_->RunningList.push_back(started);
  }
  try {
    if (environment_.BeforeWorkerStart) {
      environment_.BeforeWorkerStart();
    }
    started->Start();
  } catch (...) {
    {
      std::lock_guard<std::mutex> guard(lists_->WorkerListsLock);
      auto& running_list = lists_->RunningList;
      running_list.erase(std::find(running_list.begin(), running_list.end(), started));
    }
    workers_.erase(started);
    throw;
  }
  environment_.Clock->SleepMs(TickMs(environment_.LoopSleep));
  ReadLimits();
}

void TScraper::HarvestStep() {
  TScrapingThread* worker = nullptr;
  {
    std::lock_guard<std::mutex> guard(lists_->WorkerListsLock);
    if (lists_->FinishedList.empty()) {
      return;
    }
    // Only this thread removes entries, so the front stays the same until the removal below.
    worker = lists_->FinishedList.front();
  }
  ++ProgressBarPosition;
  UpdateProgress();
  WaitWhilePaused();

  Log(worker->url + ": " + worker->statusText);
  reading_address_ = recorder_->QueuedAddressOf(worker);
  if (reading_address_.empty()) {
    reading_address_ = worker->url;
  }
  if (worker->result == FetchOutcome::Fetched) {
    try {
      ReadPage(*worker);
    } catch (...) {
      Log("Ошибка при обработке данных для " + worker->url + ": " + CurrentErrorMessage());
    }
  }
  refreshing_.erase(reading_address_);
  const bool fetched = worker->result == FetchOutcome::Fetched;
  // Destruction waits for the worker's thread, so the lock must not be held here.
  workers_.erase(worker);
  {
    std::lock_guard<std::mutex> guard(lists_->WorkerListsLock);
    lists_->FinishedList.pop_front();
  }
  // Once the page is off the lists: a refused journal write must not harvest it twice.
  recorder_->PageFinished(worker, fetched, CategoryByUrl);
}

void TScraper::ReadPage(const TScrapingThread& worker) {
  if (environment_.AnalyzePage) {
    environment_.AnalyzePage(worker.html, worker.url, CategoryByUrl, *this);
    return;
  }
  // Asked before reading: a listing adds the lines of its own cards, never one for itself.
  const bool queued_as_organization = CategoryByUrl.Contains(worker.url);
  const analysis::PageReading reading =
      analysis::AnalyzePage(worker.html, worker.url, CategoryByUrl, *this);
  if (request_.CheckOnly) {
    Log(check_.PageRead(worker.url, reading));
    QueueCheckedOrganizations();
    return;
  }
  if (auto alarm = recognition_.Count(reading.Recognised, queued_as_organization, worker.url)) {
    HoldForUnrecognisedPages(*alarm);
  }
}

void TScraper::HoldForUnrecognisedPages(const std::string& text) {
  Log(text);
  channel_->PagesUnrecognised(text);
  // workers_ still in the middle of a page send nothing more; a stop reaches them through their
  // own flags, so only a resume lifts this.
  hold_->Set(true);
  // The pause every other hold uses: the pool loop makes the journal durable and waits, and the
  // operator's "пауза" goes on, "стоп" ends it.
  SetPaused(true);
}

void TScraper::QueueCheckedOrganizations() {
  for (std::string& address : check_candidates_) {
    if (check_queued_ >= kCheckedOrganizations) {
      break;
    }
    if (CategoryByUrl.Contains(address)) {
      WorkQueue.push_back(std::move(address));
      ++check_queued_;
      ++ProgressBarMax;
    }
  }
  check_candidates_.clear();
}

bool TScraper::RunComplete() {
  // Both lists under one holding, so a worker in the middle of its hand-off is never missed.
  std::lock_guard<std::mutex> guard(lists_->WorkerListsLock);
  return lists_->RunningList.empty() && lists_->FinishedList.empty() && WorkQueue.empty();
}

void TScraper::StopRunningWorkers() {
  std::lock_guard<std::mutex> guard(lists_->WorkerListsLock);
  for (TScrapingThread* worker : lists_->RunningList) {
    worker->Stop();
  }
}

void TScraper::ReportError(const std::string& message) {
  failed_ = true;
  Log("Ошибка: " + FirstUtf16Units(message, kReportedErrorUnits));
  Log("Включаем паузу на " + PauseDurationText(timings::kAutoPause));
  // A front end that refused the report itself is not reported again: that would never end.
  channel_->TakeRefusal();
  {
    std::lock_guard<std::mutex> guard(pause_mutex_);
    paused_ = true;
    auto_resume_from_ = environment_.Clock->TickCount();
  }
  pause_changed_.notify_all();
  WaitWhilePaused();
}

void TScraper::Finish() {
  // Each step runs whatever the one before it did, so the window always gets its controls back.
  try {
    CloseResultsFile();
  } catch (...) {
    failed_ = true;
    Log("Ошибка: " + CurrentErrorMessage());
  }
  if (!request_.CheckOnly) {
    ExportWorkbook();
  }
  // Closed before the front end is free, so the run's files are all closed when it ends.
  base_.reset();
  try {
    // Ends the log where the export left it, when the export did not get to its last line.
    channel_->CloseLog();
  } catch (...) {
    // The log file is what failed: there is nowhere left to write that down.
  }
  ProgressBarPosition = 0;
  UpdateProgress();
  ShowBusyState(false);
}

void TScraper::CloseResultsFile() {
  std::unique_ptr<output::ResultsWriter> writer = std::move(ResultsWriter);
  if (recorder_) {
    recorder_->Close(writer.get());
  }
  if (writer) {
    writer->Close();
  }
}

void TScraper::ExportWorkbook() {
  Log("Запускаем формирование файла Excel...");
  try {
    const std::string& folder = request_.Folder;
    const std::string workbook_path = folder + file_names_.WorkbookFileName;
    const std::string results_path = folder + file_names_.ResultsFileName;
    // The "Новые" sheet needs the base; without it the workbook is the one sheet it always was.
    const std::optional<std::unordered_set<std::string>> new_identities =
        base_ ? base_->FirstWrittenByThisRun() : std::nullopt;
    ReportBaseFailure();
    const long long rows =
        new_identities
            ? output::ConvertResultsToWorkbook(results_path, workbook_path, *new_identities)
            : output::ConvertResultsToWorkbook(results_path, workbook_path);
    Log("Файл сформирован, в нем " + std::to_string(rows) + " строк");
    Log("Открываем файл с результатами " + workbook_path);
    try {
      if (environment_.OpenWorkbook) {
        environment_.OpenWorkbook(workbook_path);
      } else {
        platform::OpenWithDesktop(workbook_path);
      }
    } catch (...) {
      // Whether the desktop managed to open it is not our concern; the log is still saved.
    }
    const std::string log_path = folder + file_names_.LogFileName;
    Log("Работа завершена, лог записан в " + log_path);
    // After the line above, so it is the file's last line.
    channel_->CloseLog();
  } catch (...) {
    failed_ = true;
    Log("Ошибка: " + CurrentErrorMessage());
  }
}

void TScraper::ReleaseWorkers() {
  // Destroying a worker stops it and waits for its thread; none of them waits for this one.
  workers_.clear();
}

bool TScraper::EnqueuePage(const std::string& url) {
  if (!VisitedList.Add(url)) {
    return false;
  }
  if (request_.CheckOnly) {
    check_candidates_.push_back(url);
    return true;
  }
  WorkQueue.push_back(url);
  recorder_->Queued(url);
  ++ProgressBarMax;
  return true;
}

void TScraper::AppendRow(const std::string& row) {
  if (request_.CheckOnly) {
    return;
  }
  if (refreshing_.contains(reading_address_)) {
    base_->RowRefreshed(reading_address_, row);  // a known organization: not a row of this run
    return;
  }
  if (recorder_->RowWrittenBefore(row)) {
    return;  // a continued run's page whose row made it to the file before the interruption
  }
  ResultsWriter->WriteLine(row);
  ++rows_written_;
  if (base_) {
    base_->RowWritten(reading_address_, row);
  }
}

void TScraper::Log(const std::string& text) {
  channel_->Line(text);
}

void TScraper::ShowBusyState(bool busy) {
  if (busy) {
    channel_->Busy(true);
    Log("Начинаем работу по заданному списку");
    return;
  }
  // Before the front end is free again, so an action it takes then finds the run ended.
  ended_.store(true);
  channel_->Busy(false);
}

void TScraper::UpdateProgress() {
  channel_->Progress(RunProgress{ProgressBarPosition, ProgressBarMax, rows_written_});
}

void TScraper::ReadLimits() {
  ThreadsLimit = threads_limit_setting_.load();
  RequestIntervalSec = interval_setting_.load();
}

void TScraper::ReportRunComplete() {
  if (request_.CheckOnly) {
    Log(check_.Verdict());
    return;
  }
  // Before the proxies' and the coverage lines, which stay the run's last words before its end.
  ReportBaseCounts();
  if (proxies_) {
    if (auto summary = ProxyHealthSummaryText(*proxies_, proxy_records_at_start_,
                                              environment_.Rotation->Health.Records(),
                                              environment_.Clock->TickCount())) {
      Log(*summary);
    }
  }
  ReportFieldCoverage();
  if (base_) {
    base::RunEnd end;
    end.Rows = rows_written_;
    end.FieldCoverage = coverage_text_;
    base_->RecordEnd(std::move(end));
    ReportBaseFailure();
  }
  Log("Сбор данных завершен");
}

void TScraper::ReportFieldCoverage() {
  if (!ResultsWriter) {
    return;  // the results file never opened: there is nothing to measure
  }
  output::FieldCoverage coverage;
  try {
    coverage = output::MeasureFieldCoverage(request_.Folder + file_names_.ResultsFileName);
  } catch (...) {
    Log("Не удалось подсчитать заполненность строк: " + CurrentErrorMessage());
    return;
  }
  coverage_text_ = output::FieldCoverageText(coverage);
  Log(coverage_text_);
  // The folder's last completed run before this one, measured from its own results file.
  try {
    if (const auto previous = LastCompletedRun(request_.Folder, file_names_.ResultsFileName)) {
      const output::StoredCoverage earlier{
          *previous, output::MeasureFieldCoverage(request_.Folder + *previous)};
      for (const std::string& warning : output::CoverageDropWarnings(earlier, coverage)) {
        Log(warning);
      }
    }
  } catch (...) {
    // An earlier run's files that cannot be read leave nothing to compare with.
  }
}

bool WaitUntilRunFreed(const std::weak_ptr<TScraper>& run, std::chrono::milliseconds limit) {
  const auto until = std::chrono::steady_clock::now() + limit;
  while (!run.expired()) {
    if (std::chrono::steady_clock::now() >= until) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

}  // namespace mirava::engine
