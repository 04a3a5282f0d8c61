// What the Flash Player emulator costs pages that carry no Flash: the client's start-up (a new
// process up to its first loaded page) and the load time of a page without Flash content (2000
// elements and three frames), each with the emulator installed into the browser profile and
// without it, measured side by side in the same run. Prints medians; never fails on a timing.
//
//   gui_bench_ruffle [--runs N] [--loads N]
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "browser/RuffleScheme.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  size_t n = values.size();
  return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The page: a long table of text and links, three frames of the same kind, no object or embed.
void WritePages(const QString& dir) {
  QString frame = QStringLiteral("<!DOCTYPE html><html><body>");
  for (int i = 0; i < 200; ++i)
    frame += QStringLiteral("<p>Строка %1 <a href='#%1'>ссылка</a></p>").arg(i);
  frame += QStringLiteral("</body></html>");
  QString page = QStringLiteral("<!DOCTYPE html><html><body><table>");
  for (int i = 0; i < 500; ++i)
    page +=
        QStringLiteral("<tr><td>%1</td><td><a href='#r%1'>Ход %1</a></td><td><b>x</b></td></tr>")
            .arg(i);
  page += QStringLiteral("</table>");
  for (int i = 0; i < 3; ++i) page += QStringLiteral("<iframe src='frame.html'></iframe>");
  page += QStringLiteral("</body></html>");
  for (auto [name, text] : {std::pair{"page.html", page}, std::pair{"frame.html", frame}}) {
    QFile file(dir + QLatin1Char('/') + QLatin1String(name));
    if (file.open(QIODevice::WriteOnly)) file.write(text.toUtf8());
  }
}

bool LoadAndWait(QWebEnginePage& page, const QUrl& url) {
  QEventLoop loop;
  bool ok = false;
  auto connection = QObject::connect(&page, &QWebEnginePage::loadFinished, [&](bool result) {
    ok = result;
    loop.quit();
  });
  QTimer::singleShot(30000, &loop, &QEventLoop::quit);
  page.load(url);
  loop.exec();
  QObject::disconnect(connection);
  return ok;
}

// One start of the client's browser part: scheme, application, profile, a view and the first page.
int ChildStartup(int argc, char** argv, bool withEmulator, const char* pageUrl) {
  if (withEmulator) velm::RegisterRuffleScheme();
  QApplication app(argc, argv);
  QWebEngineProfile profile;
  if (withEmulator && !velm::InstallRuffle(&profile, VELM_RUFFLE_DIR)) return 2;
  QWebEngineView view;
  QWebEnginePage page(&profile);
  view.setPage(&page);
  view.resize(800, 600);
  view.show();
  return LoadAndWait(page, QUrl(QString::fromUtf8(pageUrl))) ? 0 : 1;
}

double TimeChild(const char* self, bool withEmulator, const std::string& pageUrl) {
  std::string mode = withEmulator ? "with" : "without";
  const char* args[] = {self, "--child", mode.c_str(), pageUrl.c_str(), nullptr};
  auto start = Clock::now();
  pid_t pid;
  if (posix_spawn(&pid, self, nullptr, nullptr, const_cast<char**>(args), environ) != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ms : -1;
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
  if (argc == 4 && std::strcmp(argv[1], "--child") == 0) {
    int one = 1;
    return ChildStartup(one, argv, std::strcmp(argv[2], "with") == 0, argv[3]);
  }
  int runs = 7, loads = 40;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--runs") == 0) runs = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--loads") == 0) loads = std::atoi(argv[i + 1]);
  }
  QTemporaryDir dir;
  WritePages(dir.path());
  std::string pageUrl = QUrl::fromLocalFile(dir.path() + "/page.html").toString().toStdString();

  // Start-up: new processes, taken in turn so both sides see the same machine load.
  std::vector<double> startWith, startWithout;
  for (int i = 0; i < runs; ++i) {
    double a = TimeChild(argv[0], false, pageUrl);
    double b = TimeChild(argv[0], true, pageUrl);
    if (a < 0 || b < 0) {
      std::fprintf(stderr, "a start-up run failed (emulator files in %s?)\n", VELM_RUFFLE_DIR);
      return 1;
    }
    startWithout.push_back(a);
    startWith.push_back(b);
  }

  // Page loads: two profiles in one process, loads taken in turn.
  velm::RegisterRuffleScheme();
  QApplication app(argc, argv);
  QWebEngineProfile plain, emulated;
  if (!velm::InstallRuffle(&emulated, VELM_RUFFLE_DIR)) return 1;
  QWebEngineView viewPlain, viewEmulated;
  QWebEnginePage pagePlain(&plain), pageEmulated(&emulated);
  viewPlain.setPage(&pagePlain);
  viewEmulated.setPage(&pageEmulated);
  for (QWebEngineView* view : {&viewPlain, &viewEmulated}) {
    view->resize(800, 600);
    view->show();
  }
  QUrl url(QString::fromStdString(pageUrl));
  LoadAndWait(pagePlain, url);
  LoadAndWait(pageEmulated, url);
  std::vector<double> loadWith, loadWithout;
  for (int i = 0; i < loads; ++i) {
    for (bool with : {false, true}) {
      QElapsedTimer timer;
      timer.start();
      LoadAndWait(with ? pageEmulated : pagePlain, url);
      (with ? loadWith : loadWithout).push_back(timer.nsecsElapsed() / 1e6);
    }
  }

  double sw = Median(startWith), so = Median(startWithout);
  double lw = Median(loadWith), lo = Median(loadWithout);
  std::printf("| Work | Without emulator | With emulator | With / without |\n");
  std::printf("|---|---|---|---|\n");
  std::printf("| start-up to the first page (median of %d) | %.0f ms | %.0f ms | %.3f |\n", runs,
              so, sw, sw / so);
  std::printf("| load of a page without Flash (median of %d) | %.1f ms | %.1f ms | %.3f |\n", loads,
              lo, lw, lw / lo);
  return 0;
}
