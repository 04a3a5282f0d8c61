#include "RuffleTestEnv.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

#include "browser/QtWebBrowser.h"
#include "support/TestFolder.h"

extern char** environ;

namespace velm::test {

TRecordingProxy* TRecordingProxy::Instance = nullptr;

TRecordingProxy::TRecordingProxy() {
  Server.SetForwarding(true);
  Instance = this;
}

TRecordingProxy::~TRecordingProxy() {
  Instance = nullptr;
}

std::string TinyMovie() {
  char dir[] = "/tmp/velm-swf-XXXXXX";
  if (!mkdtemp(dir)) return {};
  std::string path = std::string(dir) + "/movie.swf";
  std::string command =
      "python3 '" + std::string(VELM_SOURCE_DIR) + "/tools/tiny-swf/tiny_swf.py' '" + path + "'";
  std::string bytes;
  if (std::system(command.c_str()) == 0 && FileExists(path)) bytes = ReadWholeFile(path);
  std::remove(path.c_str());
  rmdir(dir);
  return bytes;
}

TDemoSite::TDemoSite(const std::string& dir) {
  int out[2];
  if (pipe(out) != 0) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  std::string script = std::string(VELM_SOURCE_DIR) + "/tools/demo-site/demo_site.py";
  const char* args[] = {"python3", script.c_str(), "--port", "0", "--root", dir.c_str(), nullptr};
  pid_t pid;
  if (posix_spawnp(&pid, "python3", &actions, nullptr, const_cast<char**>(args), environ) == 0)
    fPid = pid;
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  // The first line names the address once the site accepts connections.
  std::string line;
  pollfd wait = {out[0], POLLIN, 0};
  char c;
  while (fPid > 0 && line.find('\n') == std::string::npos && poll(&wait, 1, 20000) > 0 &&
         read(out[0], &c, 1) == 1)
    line += c;
  close(out[0]);
  size_t at = line.find("http://");
  if (at != std::string::npos) fRoot = line.substr(at, line.find(' ', at) - at);
}

TDemoSite::~TDemoSite() {
  if (fPid <= 0) return;
  kill(fPid, SIGTERM);
  int status;
  waitpid(fPid, &status, 0);
}

TShownBrowser::TShownBrowser() : View(std::make_unique<TQtWebBrowser>()) {
  View->resize(800, 600);
  View->show();
}

TShownBrowser::~TShownBrowser() = default;

bool TShownBrowser::Load(const std::string& url) {
  QSignalSpy finished(View->WebPage(), &QWebEnginePage::loadFinished);
  View->WebPage()->load(QUrl(QString::fromStdString(url)));
  return finished.wait(30000) && finished.first().first().toBool();
}

QVariant TShownBrowser::Run(const QString& script) {
  QVariant answer;
  bool done = false;
  QEventLoop loop;
  View->WebPage()->runJavaScript(script, [&](const QVariant& value) {
    answer = value;
    done = true;
    loop.quit();
  });
  QTimer::singleShot(10000, &loop, &QEventLoop::quit);
  if (!done) loop.exec();
  return done ? answer : QVariant();
}

unsigned TShownBrowser::Pixel(int x, int y) {
  QImage image = View->grab().toImage();
  if (x >= image.width() || y >= image.height()) return 0xFFFFFFFFu;
  return image.pixel(x, y) & 0xFFFFFFu;
}

QPoint TShownBrowser::Corner(const QString& selector) {
  QVariant answer = Run(QStringLiteral("(function () { var e = document.querySelector('%1');"
                                       " if (!e) return '-1 -1'; var r = e.getBoundingClientRect();"
                                       " return Math.round(r.left) + ' ' + Math.round(r.top); })()")
                            .arg(selector));
  QStringList parts = answer.toString().split(u' ');
  if (parts.size() != 2) return {-1, -1};
  return {parts[0].toInt(), parts[1].toInt()};
}

bool TShownBrowser::WaitForPixel(int x, int y, unsigned rgb, int timeoutMs) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < timeoutMs) {
    if (SameColour(Pixel(x, y), rgb)) return true;
    QTest::qWait(200);
  }
  return false;
}

bool SameColour(unsigned a, unsigned b) {
  for (int shift = 0; shift < 24; shift += 8) {
    int d = int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF);
    if (d < -4 || d > 4) return false;
  }
  return true;
}

}  // namespace velm::test
