#include "browser/RuffleScheme.h"

#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>

#include "platform/FlashPlayer.h"

namespace velm {

namespace {

// Kept small on purpose: it runs in every frame of every page. The emulator reads its settings
// from window.RufflePlayer.config when it arrives. Autoplay with the unmute overlay and the
// splash hidden: the game's movies start at once, as they did with the plug-in, instead of
// waiting behind a play button for a click. The script is loaded on the first <object> or
// <embed> of the frame; the emulator itself decides which of them are Flash.
constexpr const char* kBootstrapTemplate = R"JS(
(function () {
  var base = %1;
  var player = window.RufflePlayer = window.RufflePlayer || {};
  var config = player.config = player.config || {};
  config.autoplay = "on";
  config.unmuteOverlay = "hidden";
  config.splashScreen = false;
  config.publicPath = base;
  if (window.__velmRuffle) return;
  window.__velmRuffle = "waiting";
  var observer;
  // This engine's fetch() takes no custom scheme, but XMLHttpRequest does: the emulator's own
  // fetches of its modules are answered through it, every other fetch is left as it was.
  function wrapFetch() {
    var nativeFetch = window.fetch;
    window.fetch = function (input, init) {
      var url = typeof input === "string" ? input : input && input.url ? input.url : String(input);
      if (url.lastIndexOf(base, 0) !== 0) return nativeFetch.apply(this, arguments);
      return new Promise(function (resolve, reject) {
        var request = new XMLHttpRequest();
        request.open("GET", url);
        request.responseType = "arraybuffer";
        request.onload = function () {
          var type = request.getResponseHeader("Content-Type") || "";
          resolve(new Response(request.response,
                               {status: request.status || 200, headers: {"Content-Type": type}}));
        };
        request.onerror = function () { reject(new TypeError("Failed to fetch " + url)); };
        request.send();
      });
    };
  }
  function load() {
    if (window.__velmRuffle !== "waiting") return;
    window.__velmRuffle = "loading";
    if (observer) observer.disconnect();
    wrapFetch();
    var script = document.createElement("script");
    script.src = base + "ruffle.js";
    script.onload = function () { window.__velmRuffle = "loaded"; };
    script.onerror = function () { window.__velmRuffle = "failed"; };
    (document.head || document.documentElement).appendChild(script);
  }
  function isFlashHost(node) {
    if (node.nodeType !== 1) return false;
    var name = node.nodeName;
    if (name === "OBJECT" || name === "EMBED") return true;
    return node.firstElementChild !== null && node.querySelector("object,embed") !== null;
  }
  // While the parser builds the document one look at the end is cheaper than watching every
  // node it adds; after that, elements that scripts add are watched.
  function watch() {
    if (document.querySelector("object,embed")) { load(); return; }
    observer = new MutationObserver(function (records) {
      for (var i = 0; i < records.length; i++) {
        var added = records[i].addedNodes;
        for (var j = 0; j < added.length; j++) {
          if (isFlashHost(added[j])) { load(); return; }
        }
      }
    });
    observer.observe(document, {childList: true, subtree: true});
  }
  if (document.readyState === "loading")
    document.addEventListener("DOMContentLoaded", watch);
  else
    watch();
})();
)JS";

QString JsString(const QString& text) {
  QString out = QStringLiteral("\"");
  for (QChar c : text) {
    if (c == u'"' || c == u'\\')
      out += u'\\', out += c;
    else if (c.unicode() < 0x20 || c == u'<')
      out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
    else
      out += c;
  }
  return out + u'"';
}

}  // namespace

void RegisterRuffleScheme() {
  if (QWebEngineUrlScheme::schemeByName(kRuffleScheme).name() == kRuffleScheme) return;
  QWebEngineUrlScheme scheme(kRuffleScheme);
  scheme.setSyntax(QWebEngineUrlScheme::Syntax::Host);
  // Secure: pages on http may use it and WebAssembly compiles from it. CORS-enabled: the
  // emulator fetches its modules with fetch(), which refuses schemes that are not. Pages'
  // content security policies do not apply to the client's own files.
  scheme.setFlags(QWebEngineUrlScheme::SecureScheme | QWebEngineUrlScheme::CorsEnabled |
                  QWebEngineUrlScheme::ContentSecurityPolicyIgnored);
  QWebEngineUrlScheme::registerScheme(scheme);
}

QByteArray RuffleContentType(const QString& fileName) {
  if (fileName.isEmpty() || fileName.startsWith(u'.')) return {};
  for (QChar c : fileName) {
    bool plain = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
                 c == u'.' || c == u'-' || c == u'_';
    if (!plain) return {};
  }
  if (fileName.endsWith(QLatin1String(".js"))) return "text/javascript";
  if (fileName.endsWith(QLatin1String(".wasm"))) return "application/wasm";
  if (fileName.endsWith(QLatin1String(".map"))) return "application/json";
  return {};
}

TRuffleSchemeHandler::TRuffleSchemeHandler(const std::string& folder, QObject* parent)
    : QWebEngineUrlSchemeHandler(parent), fFolder(QString::fromStdString(folder)) {
  if (!fFolder.endsWith(u'/')) fFolder += u'/';
}

void TRuffleSchemeHandler::requestStarted(QWebEngineUrlRequestJob* job) {
  const QUrl url = job->requestUrl();
  if (job->requestMethod() != "GET") {
    job->fail(QWebEngineUrlRequestJob::RequestDenied);
    return;
  }
  // The path is taken as the engine decoded it: "%2F" or ".." never reach a name that passes.
  QString path = url.path(QUrl::FullyDecoded);
  QString name = path.startsWith(u'/') ? path.mid(1) : path;
  QByteArray type = RuffleContentType(name);
  if (url.host() != QLatin1String("player") || type.isEmpty()) {
    job->fail(QWebEngineUrlRequestJob::UrlNotFound);
    return;
  }
  auto* file = new QFile(fFolder + name, job);
  if (!QFileInfo(file->fileName()).isFile() || !file->open(QIODevice::ReadOnly)) {
    delete file;
    job->fail(QWebEngineUrlRequestJob::UrlNotFound);
    return;
  }
  job->reply(type, file);
}

QString RuffleBootstrapScript(const QString& baseUrl) {
  return QString::fromUtf8(kBootstrapTemplate).arg(JsString(baseUrl));
}

bool InstallRuffle(QWebEngineProfile* profile, const std::string& folder) {
  std::string text;
  int32_t version;
  if (!DetectRuffle(folder, text, version)) return false;
  profile->installUrlSchemeHandler(kRuffleScheme, new TRuffleSchemeHandler(folder, profile));
  QWebEngineScript bootstrap;
  bootstrap.setName(QStringLiteral("velm-ruffle"));
  bootstrap.setSourceCode(RuffleBootstrapScript(QString::fromUtf8(kRuffleBaseUrl)));
  bootstrap.setInjectionPoint(QWebEngineScript::DocumentCreation);
  bootstrap.setWorldId(QWebEngineScript::MainWorld);
  bootstrap.setRunsOnSubFrames(true);
  profile->scripts()->insert(bootstrap);
  // The emulator's audio would otherwise hold every movie until the player clicks it.
  profile->settings()->setAttribute(QWebEngineSettings::PlaybackRequiresUserGesture, false);
  return true;
}

}  // namespace velm
