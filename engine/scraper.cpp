#include "engine/scraper.h"

#include <utility>

namespace mirava::engine {

// First cut: the public surface the window links against; the run itself follows.
struct TScraper::Run {
  std::atomic<bool> Started{false};
  std::atomic<bool> Stopped{false};
  std::atomic<bool> Paused{false};
  std::atomic<bool> Ended{false};
};

std::shared_ptr<TScraper> TScraper::Create(RunEnvironment environment) {
  return std::shared_ptr<TScraper>(new TScraper(std::move(environment)));
}

TScraper::TScraper(RunEnvironment environment)
    : environment_(std::move(environment)), run_(std::make_unique<Run>()) {}

TScraper::~TScraper() = default;

void TScraper::Start() {
  if (run_->Started.exchange(true)) {
    return;
  }
  run_->Ended.store(true);
}

void TScraper::Stop() {
  run_->Paused.store(false);
  run_->Stopped.store(true);
}

void TScraper::Pause() {
  run_->Paused.store(true);
}

void TScraper::Resume() {
  run_->Paused.store(false);
}

bool TScraper::IsPaused() const {
  return run_->Paused.load();
}

bool TScraper::HasEnded() const {
  return run_->Ended.load();
}

}  // namespace mirava::engine
