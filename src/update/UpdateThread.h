// Whole update runs on a worker thread, and how the waiting thread keeps itself alive meanwhile.
#pragma once

#include <functional>

namespace velm {

class TUpdateProcessor;

// Lets the waiting thread spend about the given milliseconds while keeping its windows alive:
// the windows handle their pending events and sleep, the headless tool only sleeps.
using TUpdateWaitHandler = std::function<void(int milliseconds)>;

// Installs another handler and returns the previous one; an empty handler restores the sleep.
TUpdateWaitHandler SetUpdateWaitHandler(TUpdateWaitHandler handler);
// Waits through the installed handler.
void UpdateWait(int milliseconds);

// Runs one processor's UpdateAll and marks it finished, also when the run raised. The thread
// owns this object and frees it when it ends; the processor is not owned.
class TGlobalUpdateThread {
 public:
  explicit TGlobalUpdateThread(TUpdateProcessor* processor) : Processor(processor) {}
  // Starts a detached thread that executes a new TGlobalUpdateThread on the processor.
  static void Start(TUpdateProcessor* processor);
  void Execute();

  TUpdateProcessor* Processor;
};

}  // namespace velm
