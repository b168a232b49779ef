#pragma once
// The window's questions about an interrupted run: whether to continue it at a start, and
// whether to stop a run when the window is closed.
#include <QString>

#include "engine/run_continuation.h"
#include "engine/run_events.h"

namespace mirava::app {

struct Question {
  QString Caption;
  QString Text;
  QString Yes;  // the button that continues, or stops and closes
  QString No;
};

// `settings`: the threads, interval and proxy switch the window would continue the run with.
Question ContinueRunQuestion(const engine::UnfinishedRun& run, const engine::RunRequest& settings);
Question CloseDuringRunQuestion();

}  // namespace mirava::app
