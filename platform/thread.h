#pragma once
// A thread created first and started later, with a small stack, so that a thousand workers
// fit even a 32-bit address space.
#include <cstddef>
#include <cstdint>
#include <functional>

namespace mirava::platform {

class Thread {
 public:
  static constexpr std::size_t kDefaultStackSize = 256 * 1024;

  Thread() = default;
  // Joins a thread that is still joinable; on that thread itself it detaches instead.
  ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Starts `body` on a new thread; throws std::system_error when the system refuses. An exception
  // that escapes `body` ends the program, as with std::thread. A Thread is started at most once.
  void Start(std::function<void()> body, std::size_t stack_size = kDefaultStackSize);
  // Both throw std::system_error when the thread is not joinable (Join also on its own thread).
  void Join();
  // Lets the thread run on and free itself; used by an object that frees itself on its own thread.
  void Detach();
  bool Joinable() const { return started_ && !joined_ && !detached_; }
  // True on the thread that Start made, while it runs (also after Detach); false once joined.
  bool IsCurrentThread() const;

 private:
  std::uint64_t handle_ = 0;  // pthread_t (a 64-bit handle on Windows, wider than long there)
  bool started_ = false;
  bool joined_ = false;
  bool detached_ = false;
};

}  // namespace mirava::platform
