#pragma once
// The window's questions about an interrupted run: whether to continue it at a start, and
// whether to stop a run when the window is closed.
#include <QString>

#include "engine/run_continuation.h"

namespace mirava::app {

struct Question {
  QString Caption;
  QString Text;
  QString Yes;  // the button that continues, or stops and closes
  QString No;
};

Question ContinueRunQuestion(const engine::UnfinishedRun& run);
Question CloseDuringRunQuestion();

}  // namespace mirava::app
