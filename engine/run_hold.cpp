#include "engine/run_hold.h"

namespace mirava::engine {

void RunHold::Set(bool held) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    held_ = held;
  }
  changed_.notify_all();
}

bool RunHold::Held() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return held_;
}

void RunHold::WaitWhileHeld(const std::atomic<bool>& stop, std::chrono::milliseconds poll) const {
  std::unique_lock<std::mutex> lock(mutex_);
  while (held_ && !stop.load()) {
    changed_.wait_for(lock, poll);
  }
}

}  // namespace mirava::engine
