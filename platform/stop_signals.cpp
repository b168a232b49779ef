#include "platform/stop_signals.h"

#include <unistd.h>

#include <atomic>
#include <csignal>

namespace mirava::platform {
namespace {

std::atomic<int> g_interrupts{0};
std::atomic<bool> g_terminate{false};
std::atomic<int> g_second_interrupt_status{1};

extern "C" void OnInterrupt(int) {
  if (g_interrupts.fetch_add(1) >= 1) {
    ::_exit(g_second_interrupt_status.load());
  }
}

extern "C" void OnTerminate(int) {
  g_terminate.store(true);
}

}  // namespace

void WatchStopSignals(int second_interrupt_status) {
  g_second_interrupt_status.store(second_interrupt_status);
  struct sigaction action {};
  sigemptyset(&action.sa_mask);
  action.sa_handler = OnInterrupt;
  sigaction(SIGINT, &action, nullptr);
  action.sa_handler = OnTerminate;
  sigaction(SIGTERM, &action, nullptr);
}

int InterruptCount() noexcept {
  return g_interrupts.load();
}

bool TerminationRequested() noexcept {
  return g_terminate.load();
}

}  // namespace mirava::platform
