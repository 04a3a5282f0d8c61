// The local caching proxy on 127.0.0.1: one listener thread hands each accepted connection to
// one of a fixed pool of workers, round-robin, starting after the worker that got the last one.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/Event.h"

namespace velm {

class TDebug;
class THttpProxyThread;

// Connections served at the same time. The browser engine keeps up to 32 connections to its
// proxy open (idle ones for minutes) plus one tunnel per secure page, so eight workers left pages
// waiting for idle kept-alive connections to time out.
inline constexpr int kProxyWorkerCount = 64;
// Every socket wait of a proxy connection, in milliseconds.
inline constexpr int kProxySocketTimeoutMs = 120000;
// The listener's readiness wait, after which it looks for a stop request.
inline constexpr int kListenerWaitMs = 1000;
inline constexpr const char* kProxyLogName = "LocalProxy.log";

// The time-out the next StartLocalProxy gives its workers; tests shorten it.
extern std::atomic<int> ProxyTimeoutMs;

enum class TProxyListenState { Starting, Listening, BindFailed, Stopped };

class TLocalProxyService {
 public:
  // Starts the listener thread at once.
  TLocalProxyService(int port, std::shared_ptr<TDebug> log);
  // Asks the thread to end and waits for it (up to about a second for the readiness wait and
  // about a second for the idle workers to end).
  ~TLocalProxyService();
  TLocalProxyService(const TLocalProxyService&) = delete;
  TLocalProxyService& operator=(const TLocalProxyService&) = delete;

  // Waits up to timeoutMs for the bind to succeed or fail.
  TProxyListenState WaitListenState(int timeoutMs);
  int BoundPort() const { return fBoundPort.load(); }
  int LastWorker() const { return fLastWorker.load(); }
  int BusyWorkers() const;

 private:
  void Execute();
  void SetState(TProxyListenState state);

  const int fPort;
  std::shared_ptr<TDebug> fLog;
  std::vector<std::shared_ptr<THttpProxyThread>> Workers;
  std::atomic<int> fLastWorker{0};
  std::atomic<int> fBoundPort{0};
  std::atomic<bool> fTerminated{false};
  std::mutex fStateMutex;
  TProxyListenState fState = TProxyListenState::Starting;
  TEvent fStateChanged{true, false};
  std::thread fThread;
};

// Starts the proxy on AppSettings' proxy port (or on port, 0 taking a free one).
void StartLocalProxy();
void StartLocalProxy(int port);
// Stops the listener and the idle workers; a worker still serving ends with its connection.
void StopLocalProxy();
// The running service, or nullptr.
TLocalProxyService* LocalProxyService();

// LocalProxy module: the worker lock lives from here to the finalisation, which also stops a
// proxy left running.
void InitializeLocalProxy();
void FinalizeLocalProxy();

}  // namespace velm
