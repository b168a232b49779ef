#include "platform/thread.h"

#include <pthread.h>

#include <cerrno>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <utility>

namespace mirava::platform {

namespace {

// Released once Start has recorded the thread, so a body that destroys its own Thread (an
// object that frees itself) never races with Start. A mutex and a condition variable rather than
// std::binary_semaphore: the Windows build's C++ library can miss a semaphore's release where
// the system has no futex, and the new thread then waits for ever.
class StartGate {
 public:
  void Open() {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      open_ = true;
    }
    opened_.notify_one();
  }
  void WaitUntilOpen() {
    std::unique_lock<std::mutex> lock(mutex_);
    opened_.wait(lock, [this] { return open_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable opened_;
  bool open_ = false;
};

struct StartBlock {
  std::function<void()> body;
  StartGate recorded;
};

// An exception that escapes a thread body ends the program, as with std::thread.
void RunBody(std::function<void()>& body) noexcept {
  body();
}

extern "C" void* ThreadEntry(void* argument) {
  std::shared_ptr<StartBlock> block;
  {
    std::unique_ptr<std::shared_ptr<StartBlock>> handed(
        static_cast<std::shared_ptr<StartBlock>*>(argument));
    block = std::move(*handed);
  }
  block->recorded.WaitUntilOpen();
  // The body is this thread's alone; the block goes when Start has let go of it as well.
  std::function<void()> body = std::move(block->body);
  block.reset();
  RunBody(body);
  return nullptr;
}

pthread_t AsPthread(std::uint64_t handle) {
  return static_cast<pthread_t>(handle);
}

}  // namespace

Thread::~Thread() {
  if (!Joinable()) {
    return;
  }
  // An object that frees itself on its own thread cannot wait for that thread.
  if (IsCurrentThread()) {
    Detach();
  } else {
    Join();
  }
}

void Thread::Start(std::function<void()> body, std::size_t stack_size) {
  if (started_) {
    throw std::logic_error("Thread::Start: the thread was started before");
  }
  if (!body) {
    throw std::invalid_argument("Thread::Start: empty body");
  }
  pthread_attr_t attributes;
  int error = pthread_attr_init(&attributes);
  if (error != 0) {
    throw std::system_error(error, std::generic_category(), "pthread_attr_init");
  }
  error = pthread_attr_setstacksize(&attributes, stack_size);
  if (error != 0) {
    pthread_attr_destroy(&attributes);
    throw std::system_error(error, std::generic_category(), "pthread_attr_setstacksize");
  }
  // Shared by both threads, so opening the gate never touches a block the new thread has freed.
  auto block = std::make_shared<StartBlock>();
  block->body = std::move(body);
  auto handed = std::make_unique<std::shared_ptr<StartBlock>>(block);
  pthread_t handle{};
  error = pthread_create(&handle, &attributes, ThreadEntry, handed.get());
  pthread_attr_destroy(&attributes);
  if (error != 0) {
    throw std::system_error(error, std::generic_category(), "pthread_create");
  }
  handed.release();  // the new thread's now
  handle_ = static_cast<std::uint64_t>(handle);
  started_ = true;
  // From here on the new thread may free this Thread at once.
  block->recorded.Open();
}

void Thread::Join() {
  if (!Joinable()) {
    throw std::system_error(EINVAL, std::generic_category(), "Thread::Join");
  }
  const int error = pthread_join(AsPthread(handle_), nullptr);
  if (error != 0) {
    throw std::system_error(error, std::generic_category(), "pthread_join");
  }
  joined_ = true;
}

void Thread::Detach() {
  if (!Joinable()) {
    throw std::system_error(EINVAL, std::generic_category(), "Thread::Detach");
  }
  const int error = pthread_detach(AsPthread(handle_));
  if (error != 0) {
    throw std::system_error(error, std::generic_category(), "pthread_detach");
  }
  detached_ = true;
}

bool Thread::IsCurrentThread() const {
  return started_ && !joined_ && pthread_equal(AsPthread(handle_), pthread_self()) != 0;
}

}  // namespace mirava::platform
