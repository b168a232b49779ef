#include <windows.h>

#include <atomic>

#include "platform/stop_signals.h"

namespace mirava::platform {
namespace {

std::atomic<int> g_interrupts{0};
std::atomic<bool> g_terminate{false};
std::atomic<int> g_second_interrupt_status{1};

BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (event == CTRL_C_EVENT) {
    if (g_interrupts.fetch_add(1) >= 1) {
      ExitProcess(static_cast<UINT>(g_second_interrupt_status.load()));
    }
    return TRUE;
  }
  // Break, a closed console, log-off, shut-down: a request to terminate.
  g_terminate.store(true);
  return TRUE;
}

}  // namespace

void WatchStopSignals(int second_interrupt_status) {
  g_second_interrupt_status.store(second_interrupt_status);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

int InterruptCount() noexcept {
  return g_interrupts.load();
}

bool TerminationRequested() noexcept {
  return g_terminate.load();
}

}  // namespace mirava::platform
