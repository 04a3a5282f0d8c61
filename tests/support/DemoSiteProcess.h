// The demo game site of tools/demo-site, run as its own process on a free loopback port for the
// tests that need a whole site: real file lists, build pages, files and publications.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "support/TestFolder.h"

extern char** environ;

namespace velm::test {

// The demo site in a child process; stopped when the object goes.
class TDemoSiteProcess {
 public:
  explicit TDemoSiteProcess(const std::string& root) : fRoot(root) {
    int out[2];
    if (pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::string script = std::string(VELM_SOURCE_DIR) + "/tools/demo-site/demo_site.py";
    const char* argv[] = {"python3", script.c_str(), "--port", "0",
                          "--root",  root.c_str(),   nullptr};
    if (posix_spawnp(&fPid, "python3", &actions, nullptr, const_cast<char**>(argv), environ) != 0)
      fPid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    // "demo-site: serving http://127.0.0.1:PORT/ ..." once it accepts connections.
    FILE* in = fdopen(out[0], "r");
    char line[512];
    if (in && fgets(line, sizeof line, in)) {
      std::string text = line;
      size_t at = text.find("http://");
      if (at != std::string::npos) fUrl = text.substr(at, text.find('/', at + 7) + 1 - at);
    }
    fOut = in;
  }
  ~TDemoSiteProcess() {
    if (fPid > 0) {
      kill(fPid, SIGTERM);
      waitpid(fPid, nullptr, 0);
    }
    if (fOut) fclose(fOut);
  }

  // "http://127.0.0.1:PORT/", empty when the site did not come up.
  const std::string& Url() const { return fUrl; }
  // Targets of the request log, in order.
  std::vector<std::string> Targets() const {
    std::vector<std::string> targets;
    std::istringstream log(ReadWholeFile(fRoot + "requests.log"));
    std::string line;
    while (std::getline(log, line)) {
      std::vector<std::string> fields;
      std::istringstream split(line);
      std::string field;
      while (std::getline(split, field, '\t')) fields.push_back(field);
      if (fields.size() > 4) targets.push_back(fields[4].substr(1));
    }
    return targets;
  }

 private:
  std::string fRoot;
  std::string fUrl;
  pid_t fPid = -1;
  FILE* fOut = nullptr;
};

}  // namespace velm::test
