#include "RuffleTestEnv.h"

#include <gtest/gtest.h>

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
