// velm-proxy: the client's engine without windows. It brings the mirror folder up to date, then
// serves the caching proxy on 127.0.0.1 for any browser, updating in the background, until
// SIGINT or SIGTERM.
//
//   velm-proxy                 start-up update, then serve
//   velm-proxy --update-only   start-up update, then exit: 0 site reached, 1 every list failed
//   velm-proxy --no-update     serve at once
//
// Exit status 2: the proxy port is taken, or the arguments are wrong.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "ConsoleUpdateLogger.h"
#include "app/AppSettings.h"
#include "app/Debug.h"
#include "app/IniFile.h"
#include "app/Options.h"
#include "app/ProcessModules.h"
#include "proxy/HttpProxyThread.h"
#include "proxy/LocalProxy.h"
#include "update/SingleFileUpdate.h"
#include "update/UpdatePackage.h"
#include "update/UpdateProcessor.h"

namespace velm {
namespace {

// The client's own INI file, so the tool and the client share their settings.
constexpr const char* kClientIniName = "VelmC2.ini";
constexpr int kExitOk = 0;
constexpr int kExitAllListsFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitPortTaken = 2;
constexpr int kExitInterrupted = 130;

std::atomic<bool> gStop{false};

void OnStopSignal(int) {
  gStop = true;
}

void InstallStopSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

enum class TMode { Normal, UpdateOnly, NoUpdate };

bool ParseArguments(int argc, char** argv, TMode& mode) {
  mode = TMode::Normal;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--update-only") == 0 && mode == TMode::Normal)
      mode = TMode::UpdateOnly;
    else if (std::strcmp(argv[i], "--no-update") == 0 && mode == TMode::Normal)
      mode = TMode::NoUpdate;
    else
      return false;
  }
  return true;
}

// The process-wide objects the engine needs, in the client's order; the update unit's rows are
// added here when the engine's table does not carry them.
std::vector<TProcessModule> EngineModules() {
  std::vector<TProcessModule> rows = CoreProcessModules();
  bool haveUpdate = false;
  for (const TProcessModule& row : rows)
    haveUpdate = haveUpdate || std::strcmp(row.Name, "UpdateProcessor") == 0;
  if (!haveUpdate)
    rows = ProcessModulesWith(
        {{4, "UpdateProcessor", InitializeUpdateProcessor, FinalizeUpdateProcessor}});
  return rows;
}

// One whole update run on this thread; false when every file list failed.
bool RunWholeUpdate(TConsoleUpdateLogger& logger) {
  TUpdateProcessor processor(&logger);
  processor.UpdateAll();
  return !processor.AllListsFailed;
}

// Serves until a stop signal, with a background update every AutoUpdateInterval minutes.
void Serve(TConsoleUpdateLogger& logger) {
  auto nextUpdate = std::chrono::steady_clock::now();
  auto schedule = [&] {
    nextUpdate = std::chrono::steady_clock::now() +
                 std::chrono::minutes(Options ? Options->AutoUpdateInterval() : 10);
  };
  schedule();
  while (!gStop) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (std::chrono::steady_clock::now() < nextUpdate) continue;
    if (Options && Options->AutoUpdateEnable()) RunWholeUpdate(logger);
    schedule();
  }
}

int Run(TMode mode) {
  SetIniFileName(kClientIniName);
  TProcessModules modules(EngineModules());
  if (!SingleFileUpdater) CreateSingleFileUpdater();
  TConsoleUpdateLogger logger(stdout, gStop);

  if (mode != TMode::NoUpdate) {
    bool reached = RunWholeUpdate(logger);
    StartupUpdateDone = true;
    if (gStop) return kExitInterrupted;
    if (mode == TMode::UpdateOnly) return reached ? kExitOk : kExitAllListsFailed;
    if (!reached)
      std::printf("velm-proxy: the site was not reached; serving the folder as it is\n");
  }

  const int port = AppSettings->GetProxyPort();
  StartLocalProxy(port);
  TProxyListenState state = LocalProxyService()->WaitListenState(10000);
  if (state != TProxyListenState::Listening) {
    StopLocalProxy();
    std::fprintf(stderr, "velm-proxy: cannot listen on 127.0.0.1:%d (the port is taken)\n", port);
    return kExitPortTaken;
  }
  std::printf("velm-proxy: listening on 127.0.0.1:%d\n", LocalProxyService()->BoundPort());
  std::fflush(stdout);
  Serve(logger);
  StopLocalProxy();
  std::printf("velm-proxy: stopped\n");
  std::fflush(stdout);
  // A worker still serving a kept-alive browser connection must not outlive the settings and
  // logs it uses: then the process ends here, without releasing them.
  if (RunningProxyWorkers() > 0) std::_Exit(kExitOk);
  return kExitOk;
}

}  // namespace
}  // namespace velm

int main(int argc, char** argv) {
  velm::TMode mode;
  if (!velm::ParseArguments(argc, argv, mode)) {
    std::fprintf(stderr, "usage: velm-proxy [--update-only | --no-update]\n");
    return velm::kExitUsage;
  }
  velm::InstallStopSignals();
  int status = velm::Run(mode);
  std::fflush(stdout);
  return status;
}
