#pragma once
// A thread created first and started later, with a small stack, so that a thousand workers
// fit even a 32-bit address space.
#include <cstddef>
#include <functional>

namespace mirava::engine::platform {

class Thread {
 public:
  static constexpr std::size_t kDefaultStackSize = 256 * 1024;

  Thread() = default;
  ~Thread();  // joins a thread that is still joinable
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Starts `body` on a new thread; throws std::system_error when the system refuses.
  void Start(std::function<void()> body, std::size_t stack_size = kDefaultStackSize);
  void Join();
  // Lets the thread run on and free itself; used by an object that frees itself on its own thread.
  void Detach();
  bool Joinable() const { return started_ && !joined_or_detached_; }
  bool IsCurrentThread() const;

 private:
  unsigned long handle_ = 0;
  bool started_ = false;
  bool joined_or_detached_ = false;
};

}  // namespace mirava::engine::platform
