#include "engine/platform/thread.h"

#include <pthread.h>

#include <cerrno>
#include <memory>
#include <stdexcept>
#include <system_error>
#include <utility>

namespace mirava::engine::platform {

namespace {

// An exception that escapes a thread body ends the program, as with std::thread.
void RunBody(std::function<void()>& body) noexcept {
  body();
}

extern "C" void* ThreadEntry(void* argument) {
  std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(argument));
  RunBody(*body);
  return nullptr;
}

pthread_t AsPthread(unsigned long handle) {
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
  auto owned_body = std::make_unique<std::function<void()>>(std::move(body));
  pthread_t handle{};
  error = pthread_create(&handle, &attributes, ThreadEntry, owned_body.get());
  pthread_attr_destroy(&attributes);
  if (error != 0) {
    throw std::system_error(error, std::generic_category(), "pthread_create");
  }
  owned_body.release();  // the new thread owns it now
  handle_ = static_cast<unsigned long>(handle);
  started_ = true;
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
