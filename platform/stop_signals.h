#pragma once
// The operator's requests to end a program that has no window: an interrupt (Ctrl+C) and a
// request to terminate. The handlers are the process's own, so their account is too.
namespace mirava::platform {

// From now on the process counts interrupts and notes a request to terminate instead of ending
// at once; the second interrupt ends it at once with `second_interrupt_status`, for an operator
// who will not wait.
void WatchStopSignals(int second_interrupt_status);

int InterruptCount() noexcept;
bool TerminationRequested() noexcept;

}  // namespace mirava::platform
