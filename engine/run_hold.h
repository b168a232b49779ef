#pragma once
// The hold of a run whose site stopped looking like the directory: until the operator decides,
// workers still in the middle of a page send no further request. Shared by the run and its
// workers; any thread.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace mirava::engine {

class RunHold {
 public:
  void Set(bool held);
  bool Held() const;
  // Returns once the hold is lifted or `stop` is set, which it looks at every `poll`.
  void WaitWhileHeld(const std::atomic<bool>& stop, std::chrono::milliseconds poll) const;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  bool held_ = false;
};

}  // namespace mirava::engine
