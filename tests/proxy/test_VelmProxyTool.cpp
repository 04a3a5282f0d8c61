// velm-proxy as a player runs it, against the demo site: the start-up update fills the mirror,
// then a browser-like client (curl through the proxy) gets the game graphics from the folder.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <poll.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/DateTime.h"
#include "platform/TCPBlockSocket.h"
#include "support/TestFolder.h"
#include "update/FileIO.h"
#include "update/UpdatePackage.h"

using namespace velm;
namespace fs = std::filesystem;

namespace {

// A child process with its standard output (and error) in a pipe.
class TChild {
 public:
  TChild(const std::vector<std::string>& argv, const std::string& dir,
         const std::vector<std::string>& env = {}) {
    int out[2];
    if (::pipe(out) != 0) return;
    fPid = ::fork();
    if (fPid == 0) {
      ::dup2(out[1], 1);
      ::dup2(out[1], 2);
      ::close(out[0]);
      ::close(out[1]);
      if (!dir.empty() && ::chdir(dir.c_str()) != 0) ::_exit(127);
      for (const std::string& e : env) ::putenv(const_cast<char*>(e.c_str()));
      std::vector<char*> args;
      for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      ::execvp(args[0], args.data());
      ::_exit(127);
    }
    ::close(out[1]);
    fOut = out[0];
  }
  ~TChild() {
    if (fPid > 0 && !fExited) {
      ::kill(fPid, SIGKILL);
      ::waitpid(fPid, nullptr, 0);
    }
    if (fOut >= 0) ::close(fOut);
  }
  // The next output line, waiting up to timeoutMs; false at the end of the output.
  bool ReadLine(std::string& line, int timeoutMs = 20000) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      size_t nl = fBuffer.find('\n');
      if (nl != std::string::npos) {
        line = fBuffer.substr(0, nl);
        fBuffer.erase(0, nl + 1);
        return true;
      }
      int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                      end - std::chrono::steady_clock::now())
                                      .count());
      if (left <= 0) return false;
      pollfd p{fOut, POLLIN, 0};
      if (::poll(&p, 1, left) <= 0) return false;
      char buf[4096];
      ssize_t n = ::read(fOut, buf, sizeof buf);
      if (n <= 0) return false;
      fBuffer.append(buf, static_cast<size_t>(n));
    }
  }
  std::string ReadRest() {
    std::string all, line;
    while (ReadLine(line, 30000)) all += line + "\n";
    return all + fBuffer;
  }
  void Signal(int sig) { ::kill(fPid, sig); }
  // Exit status, or -1 after timeoutMs.
  int Wait(int timeoutMs = 30000) {
    for (int waited = 0; waited < timeoutMs; waited += 10) {
      int status = 0;
      if (::waitpid(fPid, &status, WNOHANG) == fPid) {
        fExited = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
  }

 private:
  pid_t fPid = -1;
  int fOut = -1;
  bool fExited = false;
  std::string fBuffer;
};

int FreePort() {
  TTCPBlockSocket probe;
  probe.Bind("127.0.0.1", "0");
  return probe.GetLocalPort();
}

// The site's request log lines whose target is exactly the given one.
int SiteRequests(const std::string& siteDir, const std::string& target) {
  std::ifstream log(siteDir + "requests.log");
  int count = 0;
  for (std::string line; std::getline(log, line);) {
    std::vector<std::string> fields;
    std::stringstream ss(line);
    for (std::string f; std::getline(ss, f, '\t');) fields.push_back(f);
    if (fields.size() > 4 && fields[4] == target) ++count;
  }
  return count;
}

// A plain GET of the site (no proxy): the body.
std::string SiteGet(int port, const std::string& path) {
  TTCPBlockSocket s;
  s.Connect("127.0.0.1", std::to_string(port));
  s.SendString("GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
  std::string all;
  for (;;) {
    std::string piece = s.RecvPacket(10000);
    if (s.LastError() != 0) break;
    all += piece;
  }
  size_t body = all.find("\r\n\r\n");
  return body == std::string::npos ? "" : all.substr(body + 4);
}

// curl through the proxy: the status code, with the body in body.
int CurlThrough(int proxyPort, const std::string& url, std::string& body) {
  std::string cmd = "curl -s -S --max-time 20 -x 127.0.0.1:" + std::to_string(proxyPort) +
                    " -o - -w '\\n%{http_code}' '" + url + "' 2>&1";
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return -1;
  std::string out;
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  ::pclose(p);
  size_t nl = out.rfind('\n');
  if (nl == std::string::npos) return -1;
  body = out.substr(0, nl);
  return std::atoi(out.c_str() + nl + 1);
}

class VelmProxyTool : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("command -v curl > /dev/null && command -v python3 > /dev/null") != 0)
      GTEST_SKIP() << "curl and python3 are needed";
    fRoot = fs::temp_directory_path() / ("velm-tool-" + std::to_string(::getpid()));
    fs::remove_all(fRoot);
    fs::create_directories(fRoot / "client");
    fClientDir = (fRoot / "client").string() + "/";
    fSiteDir = (fRoot / "site").string() + "/";
    fs::copy_file(VELM_PROXY_EXE, fClientDir + "velm-proxy");
    fSite = std::make_unique<TChild>(
        std::vector<std::string>{"python3",
                                 std::string(VELM_SOURCE_DIR) + "/tools/demo-site/demo_site.py",
                                 "--port", "0", "--root", fSiteDir},
        "", std::vector<std::string>{"TZ=" + fZone});
    std::string line;
    ASSERT_TRUE(fSite->ReadLine(line)) << "the demo site did not start";
    size_t at = line.find("http://127.0.0.1:");
    ASSERT_NE(at, std::string::npos) << line;
    fSitePort = std::atoi(line.c_str() + at + 17);
    fSiteRoot = "http://127.0.0.1:" + std::to_string(fSitePort) + "/";
    fProxyPort = FreePort();
  }
  void TearDown() override {
    fSite.reset();
    if (!fRoot.empty()) fs::remove_all(fRoot);
  }
  std::unique_ptr<TChild> Tool(const std::string& option) {
    std::vector<std::string> argv{"./velm-proxy"};
    if (!option.empty()) argv.push_back(option);
    return std::make_unique<TChild>(
        argv, fClientDir,
        std::vector<std::string>{"VELM_SITE_ROOT=" + fSiteRoot,
                                 "VELM_PROXY_PORT=" + std::to_string(fProxyPort), "TZ=" + fZone});
  }

  const std::string fZone = "<+03>-3";
  fs::path fRoot;
  std::string fClientDir, fSiteDir, fSiteRoot;
  int fSitePort = 0, fProxyPort = 0;
  std::unique_ptr<TChild> fSite;
};

}  // namespace

TEST_F(VelmProxyTool, UpdatesTheMirrorThenServesItThroughTheProxy) {
  test::TScopedTimeZone zone(fZone.c_str());
  {
    auto tool = Tool("--update-only");
    std::string output = tool->ReadRest();
    ASSERT_EQ(tool->Wait(), 0) << output;
    EXPECT_NE(output.find("== "), std::string::npos) << output;
    EXPECT_NE(output.find("100%"), std::string::npos) << output;
  }
  // Every game file of the site's list is in the mirror, with the site's bytes and date.
  std::string list = SiteGet(fSitePort, "/pub/filelist.php");
  std::stringstream lines(list);
  std::string line, first;
  std::getline(lines, line);
  int files = 0;
  while (std::getline(lines, line)) {
    std::string name;
    TDateTime date;
    if (!ParseFileListLine(line, name, date)) continue;
    ++files;
    std::string local = fClientDir + "pub/" + name;
    ASSERT_TRUE(test::FileExists(local)) << name;
    EXPECT_NEAR(GetFileDate(local), date, kOneSecond) << name;
    if (first.empty() && name.ends_with(".gif") && name.find('%') == std::string::npos &&
        static_cast<unsigned char>(name[0]) < 128)
      first = name;
  }
  EXPECT_GE(files, 60);
  ASSERT_FALSE(first.empty());

  auto tool = Tool("");
  std::string out;
  bool listening = false;
  while (!listening && tool->ReadLine(line)) {
    out += line + "\n";
    listening = line == "velm-proxy: listening on 127.0.0.1:" + std::to_string(fProxyPort);
  }
  ASSERT_TRUE(listening) << out;

  // A game picture comes from the folder: the site never sees the request.
  std::string body;
  int before = SiteRequests(fSiteDir, "/" + first);
  EXPECT_EQ(CurlThrough(fProxyPort, fSiteRoot + first, body), 200);
  EXPECT_EQ(body, test::ReadWholeFile(fClientDir + "pub/" + first));
  EXPECT_EQ(SiteRequests(fSiteDir, "/" + first), before);

  // A file missing from the folder is fetched once, then served from the folder.
  fs::remove(fClientDir + "pub/" + first);
  EXPECT_EQ(CurlThrough(fProxyPort, fSiteRoot + first, body), 200);
  EXPECT_EQ(SiteRequests(fSiteDir, "/" + first), before + 1);
  // The worker stores the file after the browser has its answer (it asks the site for the
  // file's date first), so the file appears a moment later.
  for (int i = 0; i < 500 && !test::FileExists(fClientDir + "pub/" + first); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(test::FileExists(fClientDir + "pub/" + first));
  std::string again;
  EXPECT_EQ(CurlThrough(fProxyPort, fSiteRoot + first, again), 200);
  EXPECT_EQ(again, body);
  EXPECT_EQ(SiteRequests(fSiteDir, "/" + first), before + 1);

  // A page is relayed.
  int pages = SiteRequests(fSiteDir, "/main.php");
  EXPECT_EQ(CurlThrough(fProxyPort, fSiteRoot + "main.php", body), 200);
  EXPECT_NE(body.find("<html"), std::string::npos);
  EXPECT_EQ(SiteRequests(fSiteDir, "/main.php"), pages + 1);

  // A second instance finds the port taken.
  {
    auto second = Tool("--no-update");
    std::string text = second->ReadRest();
    EXPECT_EQ(second->Wait(), 2) << text;
    EXPECT_NE(text.find("port is taken"), std::string::npos) << text;
  }

  tool->Signal(SIGTERM);
  EXPECT_EQ(tool->Wait(10000), 0);
}

TEST_F(VelmProxyTool, UpdateOnlyFailsWhenTheSiteIsNotReached) {
  fSiteRoot = "http://127.0.0.1:" + std::to_string(FreePort()) + "/";
  auto tool = Tool("--update-only");
  std::string output = tool->ReadRest();
  EXPECT_EQ(tool->Wait(), 1) << output;
}
