#include "engine/scraping_thread.h"

#include <algorithm>
#include <mutex>
#include <utility>

#include "engine/log_line.h"

namespace mirava::engine {

TScrapingThread::TScrapingThread(std::shared_ptr<const WorkerServices> services)
    : services_(std::move(services)) {}

TScrapingThread::~TScrapingThread() {
  Stop();
  if (thread_.Joinable()) {
    thread_.Join();
  }
}

void TScrapingThread::Start() {
  thread_.Start([this] { Execute(); });
}

void TScrapingThread::Execute() {
  // Fetching comes next; for now the worker only hands itself over.
  std::lock_guard<std::mutex> guard(Lists->WorkerListsLock);
  auto& running = Lists->RunningList;
  const auto found = std::find(running.begin(), running.end(), this);
  if (found != running.end()) {
    running.erase(found);
  }
  Lists->FinishedList.push_back(this);
}

void TScrapingThread::AddLog(const std::string& message) {
  services_->Dispatcher->RunOnWindowThread([&] {
    LogsMemo->AppendLine(
        FormatWorkerLogLine(services_->Dispatcher->LogTimestamp(), proxy, message));
  });
}

}  // namespace mirava::engine
