#include "app/FightAlert.h"

#include <mutex>

namespace velm {
namespace {

// Held while a call is carried out, so the window never goes away under a worker's call.
std::mutex gSinkMutex;
IFightAlertSink* gSink = nullptr;

}  // namespace

void SetFightAlertSink(IFightAlertSink* sink) {
  std::lock_guard<std::mutex> lock(gSinkMutex);
  gSink = sink;
}

void StartFightAlert() {
  std::lock_guard<std::mutex> lock(gSinkMutex);
  if (gSink) gSink->StartFightAlert();
}

void ResetFightAlert() {
  std::lock_guard<std::mutex> lock(gSinkMutex);
  if (gSink) gSink->ResetFightAlert();
}

}  // namespace velm
