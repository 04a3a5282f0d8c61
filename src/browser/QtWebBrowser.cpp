#include "browser/QtWebBrowser.h"

#include <QAction>
#include <QEventLoop>
#include <QPointer>
#include <QTimer>
#include <QVariantMap>
#include <QWebEngineDownloadRequest>
#include <QWebEngineHistory>
#include <QWebEngineLoadingInfo>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <memory>

#include "browser/BrowserProfile.h"
#include "browser/PageScripts.h"
#include "platform/Encoding.h"

namespace velm {

namespace {

std::u16string ToU16(const QString& text) {
  return text.toStdU16String();
}

QString ToQ(const std::u16string& text) {
  return QString::fromStdU16String(text);
}

// One synchronous page script at a time, process-wide: a second one started from inside the
// first's wait would answer out of order.
bool gScriptRunning = false;

bool IsHtmlType(const QString& type) {
  return type == QLatin1String("text/html") || type == QLatin1String("application/xhtml+xml");
}

}  // namespace

TWebPage::TWebPage(QWebEngineProfile* profile, TQtWebBrowser* browser)
    : QWebEnginePage(profile, browser), fBrowser(browser) {}

bool TWebPage::acceptNavigationRequest(const QUrl& url, NavigationType, bool isMainFrame) {
  return fBrowser->BeforeNavigate(url, isMainFrame);
}

QWebEnginePage* TWebPage::createWindow(WebWindowType) {
  return fBrowser->NewWindow();
}

TQtWebBrowser::TQtWebBrowser(QWidget* parent)
    : QWebEngineView(parent), fPage(new TWebPage(BrowserProfile(), this)) {
  // The engine's own context menu stays (the view's default); no object is exposed to scripts.
  fPage->settings()->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, true);
  fPage->settings()->setAttribute(QWebEngineSettings::JavascriptCanAccessClipboard, false);
  setPage(fPage);
  ConnectSignals();
}

TQtWebBrowser::~TQtWebBrowser() {
  fSink = nullptr;
}

void TQtWebBrowser::ConnectSignals() {
  connect(fPage, &QWebEnginePage::linkHovered, this, [this](const QString& url) {
    TBrowserEventArgs args(TBrowserEvent::StatusTextChange);
    args.Text = ToU16(url);
    Raise(args);
  });
  connect(fPage, &QWebEnginePage::loadProgress, this, [this](int progress) {
    TBrowserEventArgs args(TBrowserEvent::ProgressChange);
    args.Progress = progress;
    args.ProgressMax = 100;
    Raise(args);
  });
  QAction* back = fPage->action(QWebEnginePage::Back);
  QAction* forward = fPage->action(QWebEnginePage::Forward);
  connect(back, &QAction::changed, this,
          [this, back] { OnCommandState(kCommandNavigateBack, back->isEnabled(), fCanGoBack); });
  connect(forward, &QAction::changed, this, [this, forward] {
    OnCommandState(kCommandNavigateForward, forward->isEnabled(), fCanGoForward);
  });
  connect(fPage, &QWebEnginePage::loadStarted, this, &TQtWebBrowser::OnLoadStarted);
  connect(fPage, &QWebEnginePage::loadFinished, this, &TQtWebBrowser::OnLoadFinished);
  connect(fPage, &QWebEnginePage::loadingChanged, this, &TQtWebBrowser::OnLoadingChanged);
  connect(fPage, &QWebEnginePage::titleChanged, this, [this](const QString& title) {
    if (fHtmlDocument) fTitle = ToU16(title);
    TBrowserEventArgs args(TBrowserEvent::TitleChange);
    args.Text = ToU16(title);
    Raise(args);
  });
  connect(fPage, &QWebEnginePage::urlChanged, this, [this](const QUrl& url) {
    TBrowserEventArgs args(TBrowserEvent::NavigateComplete2);
    args.Url = ToU16(url.toString());
    Raise(args);
  });
  connect(fPage, &QWebEnginePage::geometryChangeRequested, this, &TQtWebBrowser::OnGeometryRequest);
  connect(fPage, &QWebEnginePage::windowCloseRequested, this, [this] {
    TBrowserEventArgs args(TBrowserEvent::WindowClosing);
    args.Flag = false;
    Raise(args);
  });
  connect(fPage->profile(), &QWebEngineProfile::downloadRequested, this,
          &TQtWebBrowser::OnDownload);
}

void TQtWebBrowser::Raise(TBrowserEventArgs& args) {
  if (fSink) fSink->BrowserEvent(args);
}

bool TQtWebBrowser::BeforeNavigate(const QUrl& url, bool isMainFrame) {
  TBrowserEventArgs args(TBrowserEvent::BeforeNavigate2);
  args.Url = ToU16(url.toString());
  args.TopLevel = isMainFrame;
  Raise(args);
  return !args.Cancel;
}

QWebEnginePage* TQtWebBrowser::NewWindow() {
  TBrowserEventArgs args(TBrowserEvent::NewWindow2);
  Raise(args);
  if (args.Cancel || !args.NewWindow) return nullptr;
  auto* target = dynamic_cast<TQtWebBrowser*>(args.NewWindow);
  return target ? target->fPage : nullptr;
}

void TQtWebBrowser::OnLoadStarted() {
  ++fLoadGeneration;
  fBusy = true;
  fReadyState = kReadyStateLoading;
  TBrowserEventArgs args(TBrowserEvent::DownloadBegin);
  Raise(args);
}

void TQtWebBrowser::OnLoadFinished(bool) {
  fBusy = false;
  {
    TBrowserEventArgs args(TBrowserEvent::DownloadComplete);
    Raise(args);
  }
  // The document's type and title are read before it counts as complete, so the complete event
  // can tell an HTML document from a picture or plain text.
  unsigned generation = fLoadGeneration;
  QPointer<TQtWebBrowser> self(this);
  fPage->runJavaScript(
      QStringLiteral("[String(document.contentType), String(document.title)]"),
      QWebEngineScript::ApplicationWorld, [self, generation](const QVariant& value) {
        if (!self || generation != self->fLoadGeneration) return;
        QVariantList info = value.toList();
        self->fHtmlDocument = info.size() == 2 && IsHtmlType(info[0].toString());
        self->fTitle = self->fHtmlDocument ? ToU16(info[1].toString()) : std::u16string();
        self->fReadyState = kReadyStateComplete;
        TBrowserEventArgs args(TBrowserEvent::DocumentComplete);
        args.Url = ToU16(self->fPage->url().toString());
        self->Raise(args);
      });
}

void TQtWebBrowser::OnLoadingChanged(const QWebEngineLoadingInfo& info) {
  if (info.status() != QWebEngineLoadingInfo::LoadFailedStatus) return;
  TBrowserEventArgs args(TBrowserEvent::NavigateError);
  args.Url = ToU16(info.url().toString());
  args.StatusCode = info.errorCode();
  Raise(args);
}

void TQtWebBrowser::OnCommandState(int command, bool enabled, bool& last) {
  if (enabled == last) return;
  last = enabled;
  TBrowserEventArgs args(TBrowserEvent::CommandStateChange);
  args.Command = command;
  args.Enable = enabled;
  Raise(args);
}

void TQtWebBrowser::OnGeometryRequest(const QRect& rect) {
  const std::pair<TBrowserEvent, int> parts[] = {
      {TBrowserEvent::WindowSetLeft, rect.x()},
      {TBrowserEvent::WindowSetTop, rect.y()},
      {TBrowserEvent::WindowSetWidth, rect.width()},
      {TBrowserEvent::WindowSetHeight, rect.height()},
  };
  QPointer<TQtWebBrowser> self(this);
  for (const auto& [kind, value] : parts) {
    if (!self) return;
    TBrowserEventArgs args(kind);
    args.Value = value;
    Raise(args);
  }
}

void TQtWebBrowser::OnDownload(QWebEngineDownloadRequest* download) {
  if (download->page() != fPage) return;
  TBrowserEventArgs args(TBrowserEvent::FileDownload);
  Raise(args);
  // Downloads are not saved by the client: a request that is not accepted is dropped.
  download->cancel();
}

void TQtWebBrowser::Navigate(const std::u16string& url, int flags) {
  if (flags & kNavOpenInNewWindow) {
    TBrowserEventArgs args(TBrowserEvent::NewWindow2);
    Raise(args);
    if (!args.Cancel && args.NewWindow) args.NewWindow->Navigate(url, 0);
    return;
  }
  fPage->load(QUrl(ToQ(url)));
}

void TQtWebBrowser::Stop() {
  fPage->triggerAction(QWebEnginePage::Stop);
}

void TQtWebBrowser::Refresh() {
  fPage->triggerAction(QWebEnginePage::Reload);
}

void TQtWebBrowser::Refresh2(int level) {
  // Level 3 is "completely": the cache is bypassed.
  fPage->triggerAction(level >= 3 ? QWebEnginePage::ReloadAndBypassCache : QWebEnginePage::Reload);
}

void TQtWebBrowser::GoBack() {
  fPage->triggerAction(QWebEnginePage::Back);
}

void TQtWebBrowser::GoForward() {
  fPage->triggerAction(QWebEnginePage::Forward);
}

std::u16string TQtWebBrowser::LocationURL() const {
  return ToU16(fPage->url().toString());
}

std::u16string TQtWebBrowser::LocationName() const {
  return fTitle.empty() ? LocationURL() : fTitle;
}

TFormScriptResult TQtWebBrowser::RunScriptInFormWindow(const std::u16string& frameName,
                                                       const std::u16string& fieldName,
                                                       const std::u16string& script) {
  TFormScriptResult result;
  if (gScriptRunning) {
    result.Status = TFormScriptStatus::Busy;
    return result;
  }
  gScriptRunning = true;
  struct TAnswer {
    bool Done = false;
    QVariant Value;
  };
  auto answer = std::make_shared<TAnswer>();
  QEventLoop loop;
  QPointer<QEventLoop> loopRef(&loop);
  fPage->runJavaScript(ToQ(FormWindowScript(frameName, fieldName, script)),
                       QWebEngineScript::MainWorld, [answer, loopRef](const QVariant& value) {
                         answer->Done = true;
                         answer->Value = value;
                         if (loopRef) loopRef->quit();
                       });
  // Keys stay queued meanwhile, so no second Enter is judged inside this one.
  QTimer::singleShot(kPageScriptTimeoutMs, &loop, &QEventLoop::quit);
  if (!answer->Done) loop.exec(QEventLoop::ExcludeUserInputEvents);
  gScriptRunning = false;

  if (!answer->Done) {
    result.Status = TFormScriptStatus::Failed;
    result.Error = "the page did not answer within " + std::to_string(kPageScriptTimeoutMs) + " ms";
    return result;
  }
  QVariantMap map = answer->Value.toMap();
  QString status = map.value(QStringLiteral("status")).toString();
  if (status == QLatin1String("ran")) {
    result.Status = TFormScriptStatus::Ran;
  } else if (status == QLatin1String("noform")) {
    result.Status = TFormScriptStatus::NoForm;
  } else if (status == QLatin1String("composing")) {
    result.Status = TFormScriptStatus::Composing;
  } else if (status == QLatin1String("failed")) {
    result.Status = TFormScriptStatus::Failed;
    result.Error = Utf16ToCp1251(ToU16(map.value(QStringLiteral("error")).toString()));
  } else {
    // No document to run in (an empty answer).
    result.Status = TFormScriptStatus::NoDocument;
  }
  return result;
}

}  // namespace velm
