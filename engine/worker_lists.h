#pragma once
// The two lists a run's workers move through, and the lock that guards both. Shared by the
// coordinator and every worker of a run; stopped workers keep it alive until they have ended.
#include <deque>
#include <mutex>
#include <vector>

namespace mirava::engine {

class TScrapingThread;

struct WorkerLists {
  std::mutex WorkerListsLock;
  std::vector<TScrapingThread*> RunningList;  // created and not yet finished
  std::deque<TScrapingThread*> FinishedList;  // in the order their fetch ended
};

}  // namespace mirava::engine
