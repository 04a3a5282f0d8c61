#include "update/SelfUpdate.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/ProgramPath.h"
#include "platform/SingleInstance.h"

extern char** environ;

namespace velm {
namespace {

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Copies source over target through a temporary file beside target that is renamed over it, so
// target is never missing or half written. The copy keeps the source's permission bits (the run
// bit above all) and its access and modification times.
bool CopyExecutable(const std::string& source, const std::string& target) {
  int in = open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  struct stat st {};
  if (fstat(in, &st) != 0) {
    close(in);
    return false;
  }
  std::string temp = target + ".XXXXXX";
  int out = mkostemp(temp.data(), O_CLOEXEC);
  if (out < 0) {
    close(in);
    return false;
  }
  bool ok = true;
  char buf[65536];
  for (;;) {
    ssize_t n = read(in, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    if (!WriteAll(out, buf, static_cast<size_t>(n))) {
      ok = false;
      break;
    }
  }
  close(in);
  const timespec times[2] = {st.st_atim, st.st_mtim};
  ok = ok && fchmod(out, st.st_mode & 07777) == 0 && fsync(out) == 0 && futimens(out, times) == 0;
  ok = close(out) == 0 && ok;
  ok = ok && rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) unlink(temp.c_str());
  return ok;
}

}  // namespace

std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
  std::vector<std::string> tokens;
  std::string token;
  bool inToken = false, quoted = false;
  for (char c : commandLine) {
    if (c == '"') {
      quoted = !quoted;
      inToken = true;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (inToken) tokens.push_back(token);
      token.clear();
      inToken = false;
    } else {
      token += c;
      inToken = true;
    }
  }
  if (inToken) tokens.push_back(token);
  return tokens;
}

std::string QuoteCommandLineToken(const std::string& token) {
  if (token.find_first_of(" \t") == std::string::npos && !token.empty()) return token;
  return "\"" + token + "\"";
}

bool RunProcess(const std::string& commandLine) {
  std::vector<std::string> tokens = SplitCommandLine(commandLine);
  if (tokens.empty()) return false;
  std::vector<char*> argv;
  for (std::string& t : tokens) argv.push_back(t.data());
  argv.push_back(nullptr);
  const bool searchPath = tokens[0].find('/') == std::string::npos;

  // Two forks: the middle process ends at once and is reaped here, so the program runs as an
  // orphan of its own session that nobody has to wait for. A close-on-exec pipe tells the middle
  // process whether the program could be started. Only async-signal-safe calls after fork.
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return false;
  pid_t middle = fork();
  if (middle < 0) {
    close(report[0]);
    close(report[1]);
    return false;
  }
  if (middle == 0) {
    setsid();
    pid_t program = fork();
    if (program == 0) {
      sigset_t none;
      sigemptyset(&none);
      sigprocmask(SIG_SETMASK, &none, nullptr);
      if (searchPath)
        execvp(argv[0], argv.data());
      else
        execve(argv[0], argv.data(), environ);
      int err = errno;
      if (write(report[1], &err, sizeof err) < 0) {
      }
      _exit(127);
    }
    close(report[1]);
    int err = 0;
    ssize_t got = program < 0 ? 1 : read(report[0], &err, sizeof err);
    _exit(got == 0 ? 0 : 127);
  }
  close(report[0]);
  close(report[1]);
  int status = 0;
  while (waitpid(middle, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string SelfUpdateCommandLine() {
  return QuoteCommandLineToken(ExePath() + kNewExeExtension) + " " + kSelfUpdateSwitch;
}

bool SelfUpdate(int waitMs) {
  const std::string own = ExePath();
  const std::string ext = kNewExeExtension;
  if (own.size() <= ext.size() || own.compare(own.size() - ext.size(), ext.size(), ext) != 0)
    return false;
  const std::string target = own.substr(0, own.size() - ext.size());
  // A running executable can be replaced at once here, so waiting for its file to become
  // deletable would not wait at all: wait for the old client to give up its lock instead.
  if (!WaitForSingleInstanceRelease(ExtractFilePath(own), waitMs)) return false;
  if (!CopyExecutable(own, target)) return false;
  return RunProcess(QuoteCommandLineToken(target));
}

}  // namespace velm
