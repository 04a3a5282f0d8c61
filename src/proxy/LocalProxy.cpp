#include "proxy/LocalProxy.h"

#include <chrono>
#include <string>

#include "app/AppSettings.h"
#include "app/Debug.h"
#include "platform/TCPBlockSocket.h"
#include "proxy/HttpProxyThread.h"

namespace velm {

std::atomic<int> ProxyTimeoutMs{kProxySocketTimeoutMs};

namespace {

// Guards start and stop; the workers keep what they need (their log) alive themselves.
std::mutex gServiceMutex;
std::unique_ptr<TLocalProxyService> ProxyService;
// The proxy's own error log. Workers hold a share of it, so one still serving after the stop
// writes to a live log instead of a destroyed one.
std::shared_ptr<TDebug> ProxyLog;

void SleepMs(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace

TLocalProxyService::TLocalProxyService(int port, std::shared_ptr<TDebug> log)
    : fPort(port), fLog(std::move(log)) {
  // The pool is made before the listener thread starts, so that the table never changes while
  // others look at it.
  const int timeoutMs = ProxyTimeoutMs.load();
  for (int i = 0; i < kProxyWorkerCount; ++i)
    Workers.push_back(THttpProxyThread::Create(i, fLog, timeoutMs));
  fThread = std::thread([this] { Execute(); });
}

TLocalProxyService::~TLocalProxyService() {
  fTerminated = true;
  if (fThread.joinable()) fThread.join();
}

void TLocalProxyService::SetState(TProxyListenState state) {
  std::lock_guard<std::mutex> lock(fStateMutex);
  fState = state;
  fStateChanged.SetEvent();
}

TProxyListenState TLocalProxyService::WaitListenState(int timeoutMs) {
  fStateChanged.WaitFor(timeoutMs);
  std::lock_guard<std::mutex> lock(fStateMutex);
  return fState;
}

int TLocalProxyService::BusyWorkers() const {
  int busy = 0;
  for (const auto& w : Workers)
    if (!w->Idle()) ++busy;
  return busy;
}

void TLocalProxyService::Execute() {
  TTCPBlockSocket listener;
  listener.Bind("127.0.0.1", std::to_string(fPort));
  if (listener.LastError() == 0) listener.Listen();
  const bool bindFailed = listener.LastError() != 0;
  if (bindFailed) {
    // No message, no retry, no other port: the workers stay idle until the stop.
    SetState(TProxyListenState::BindFailed);
  } else {
    listener.SetLinger(true, 10);
    fBoundPort = listener.GetLocalPort();
    SetState(TProxyListenState::Listening);
    while (!fTerminated) {
      if (!listener.CanRead(kListenerWaitMs)) continue;
      int client = listener.Accept();
      if (listener.LastError() != 0) continue;
      bool handed = false;
      while (!handed) {
        for (int attempt = 1; attempt <= kProxyWorkerCount && !handed; ++attempt) {
          int index = (fLastWorker + attempt) % kProxyWorkerCount;
          if (Workers[index]->AssignConnection(client)) {
            fLastWorker = index;
            handed = true;
          }
        }
        if (handed) break;
        // Every worker is busy: further clients wait in the backlog meanwhile.
        SleepMs(1);
        if (fTerminated) break;
      }
      if (!handed) {
        TTCPBlockSocket dropped;
        dropped.SetSocket(client);
      }
    }
    listener.CloseSocket();
  }

  for (auto& w : Workers) w->StopWorker();
  for (int round = 0; round < 100; ++round) {
    SleepMs(10);
    bool all = true;
    for (auto& w : Workers) all = all && w->Stopped();
    if (all) break;
  }
  if (!bindFailed) SetState(TProxyListenState::Stopped);
}

void StartLocalProxy() {
  StartLocalProxy(AppSettings ? AppSettings->GetProxyPort() : kDefaultProxyPort);
}

void StartLocalProxy(int port) {
  std::lock_guard<std::mutex> lock(gServiceMutex);
  if (ProxyService) return;
  ProxyLog = std::make_shared<TDebug>(kProxyLogName);
  ProxyService = std::make_unique<TLocalProxyService>(port, ProxyLog);
}

void StopLocalProxy() {
  std::lock_guard<std::mutex> lock(gServiceMutex);
  ProxyService.reset();
  ProxyLog.reset();
}

TLocalProxyService* LocalProxyService() {
  std::lock_guard<std::mutex> lock(gServiceMutex);
  return ProxyService.get();
}

void InitializeLocalProxy() {}

void FinalizeLocalProxy() {
  StopLocalProxy();
}

}  // namespace velm
