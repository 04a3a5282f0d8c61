// What the emulator tests share: the recording proxy every view goes through, a loopback site
// with the tiny test movie, and a shown browser view whose pixels and scripts can be read.
#pragma once

#include <QImage>
#include <QPoint>
#include <QString>
#include <QVariant>
#include <memory>
#include <string>

#include "support/LoopbackHttpServer.h"

namespace velm {
class TQtWebBrowser;
}

namespace velm::test {

// The movie's colours as tools/tiny-swf writes them by default.
inline constexpr unsigned kMovieBackground = 0x1E90C8;
inline constexpr unsigned kMovieShape = 0xD0342C;

class TRecordingProxy {
 public:
  TRecordingProxy();
  ~TRecordingProxy();
  static TRecordingProxy* Instance;
  TLoopbackHttpServer Server;
};

// The bytes tools/tiny-swf/tiny_swf.py writes with its defaults (the script runs each time).
std::string TinyMovie();

// The demo game site (tools/demo-site) in a child process on a free port, its folder in dir.
class TDemoSite {
 public:
  explicit TDemoSite(const std::string& dir);
  ~TDemoSite();
  TDemoSite(const TDemoSite&) = delete;
  TDemoSite& operator=(const TDemoSite&) = delete;
  // "http://127.0.0.1:PORT/" once the site serves; empty when it did not start.
  const std::string& Root() const { return fRoot; }

 private:
  int fPid = -1;
  std::string fRoot;
};

// A browser view in a shown window of a fixed size.
class TShownBrowser {
 public:
  TShownBrowser();
  ~TShownBrowser();
  // Loads the address and waits for the top document; false when it does not load in time.
  bool Load(const std::string& url);
  // The answer of a script in the top document; an invalid value after a time-out.
  QVariant Run(const QString& script);
  // Waits until the pixel at (x, y) of the view shows rgb; false after timeoutMs.
  bool WaitForPixel(int x, int y, unsigned rgb, int timeoutMs);
  unsigned Pixel(int x, int y);
  // The top left corner of the first element the selector finds, in view pixels; (-1, -1) if none.
  QPoint Corner(const QString& selector);

  std::unique_ptr<TQtWebBrowser> View;
};

// True when the colours differ by at most a few steps per channel (scaling, colour rounding).
bool SameColour(unsigned a, unsigned b);

}  // namespace velm::test
