// The time a page takes to load in the browser engine the client embeds, straight from its site
// or through the local proxy (the same engine switches the client sets). Each load runs in a
// fresh profile kept in memory, so the engine's own cache never answers; the engine process is
// started once, by a first load that is not counted. Prints one line per load and the median;
// never fails on a timing.
//
//   gui_bench_page URL [--proxy PORT] [--runs N]
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/BrowserBinding.h"

namespace {

// Milliseconds until the page and all its pictures and frames have loaded; negative when the
// load failed or did not finish within a minute.
double LoadOnce(const QUrl& url) {
  auto profile = std::make_unique<QWebEngineProfile>();  // off the record: nothing on disk
  profile->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
  double result = -1;
  {
    QWebEnginePage page(profile.get());
    QEventLoop loop;
    QElapsedTimer timer;
    QObject::connect(&page, &QWebEnginePage::loadFinished, [&](bool ok) {
      result = ok ? timer.nsecsElapsed() / 1e6 : -1;
      loop.quit();
    });
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    timer.start();
    page.load(url);
    loop.exec();
  }
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: gui_bench_page URL [--proxy PORT] [--runs N]\n");
    return 2;
  }
  std::string url = argv[1];
  int runs = 5;
  for (int i = 2; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--proxy") == 0) {
      velm::BindBrowserToProxy(std::atoi(argv[i + 1]));
    } else if (std::strcmp(argv[i], "--runs") == 0) {
      runs = std::max(1, std::atoi(argv[i + 1]));
    }
  }
  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  QUrl target(QString::fromStdString(url));
  LoadOnce(target);  // starts the engine's processes
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    double t = LoadOnce(target);
    std::printf("load_ms %.1f\n", t);
    std::fflush(stdout);
    if (t < 0) return 1;
    times.push_back(t);
  }
  std::sort(times.begin(), times.end());
  size_t n = times.size();
  double median = n % 2 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2;
  std::printf("median_ms %.1f\n", median);
  return 0;
}
