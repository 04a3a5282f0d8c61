// The Flash Player emulator in the browser views. Its files (a small loader script, chunks and
// WebAssembly modules) are served from the "ruffle" folder beside the executable through the
// client's own URL scheme, so no page waits on the network for them; a tiny script in every
// frame loads the emulator once the frame shows an <object> or <embed>, so pages without Flash
// content pay for nothing but that script.
#pragma once

#include <QByteArray>
#include <QWebEngineUrlSchemeHandler>
#include <string>

class QWebEngineProfile;

namespace velm {

// "velm-ruffle://player/ruffle.js": a host-style scheme, so its files have an origin of their own.
inline constexpr const char* kRuffleScheme = "velm-ruffle";
inline constexpr const char* kRuffleBaseUrl = "velm-ruffle://player/";

// Makes the scheme known to the engine. Must run before the application object and the first
// profile exist; a second call does nothing.
void RegisterRuffleScheme();

// The content type a file of the emulator is served with, or empty when the name is not one the
// folder may serve: plain names only (no folders, no leading dot), ".js", ".wasm" and ".map".
QByteArray RuffleContentType(const QString& fileName);

// Answers GET requests for velm-ruffle://player/NAME from the folder given at creation.
class TRuffleSchemeHandler : public QWebEngineUrlSchemeHandler {
  Q_OBJECT
 public:
  TRuffleSchemeHandler(const std::string& folder, QObject* parent);
  void requestStarted(QWebEngineUrlRequestJob* job) override;

 private:
  QString fFolder;
};

// The page script that sets the emulator's configuration and loads it on the first Flash
// element; the emulator's files are taken from baseUrl.
QString RuffleBootstrapScript(const QString& baseUrl);

// When the emulator's files are present and usable: serves them to the profile's pages, adds
// the bootstrap script to every frame and lets media start without a user gesture. False (and
// nothing changed) otherwise.
bool InstallRuffle(QWebEngineProfile* profile, const std::string& folder);

}  // namespace velm
