#include "engine/platform/thread.h"

#include <pthread.h>

#include <cerrno>
#include <memory>
#include <semaphore>
#include <stdexcept>
#include <system_error>
#include <utility>

namespace mirava::engine::platform {

namespace {

struct StartBlock {
  std::function<void()> body;
  // Released once Start has recorded the thread, so a body that destroys its own Thread (an
  // object that frees itself) never races with Start.
  std::binary_semaphore recorded{0};
};

// An exception that escapes a thread body ends the program, as with std::thread.
void RunBody(std::function<void()>& body) noexcept {
  body();
}

extern "C" void* ThreadEntry(void* argument) {
  std::unique_ptr<StartBlock> block(static_cast<StartBlock*>(argument));
  block->recorded.acquire();
  RunBody(block->body);
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
  auto block = std::make_unique<StartBlock>();
  block->body = std::move(body);
  pthread_t handle{};
  error = pthread_create(&handle, &attributes, ThreadEntry, block.get());
  pthread_attr_destroy(&attributes);
  if (error != 0) {
    throw std::system_error(error, std::generic_category(), "pthread_create");
  }
  handle_ = static_cast<std::uint64_t>(handle);
  started_ = true;
  // The new thread owns the block from here on and may free this Thread at once.
  block.release()->recorded.release();
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

}  // namespace mirava::engine::platform
