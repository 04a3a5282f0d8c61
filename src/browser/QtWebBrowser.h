// The tab's browser on Qt WebEngine.
//
// Where each event comes from:
//   StatusTextChange   linkHovered (an empty text when the pointer leaves a link)
//   ProgressChange     loadProgress (Progress out of 100)
//   CommandStateChange changed() of the page's Back and Forward actions
//   DownloadBegin      loadStarted
//   DownloadComplete   loadFinished
//   TitleChange        titleChanged
//   BeforeNavigate2    acceptNavigationRequest, for the top document and every frame, also on
//                      redirects; Cancel refuses the navigation
//   NewWindow2         createWindow; NewWindow's page is handed back, so the content loads there
//   NavigateComplete2  urlChanged (the top document)
//   DocumentComplete   loadFinished, once the document's type and title have been read
//   WindowSetLeft/Top/Width/Height  geometryChangeRequested
//   WindowClosing      windowCloseRequested
//   FileDownload       the profile's downloadRequested for this page; a download is never kept
//   NavigateError      loadingChanged with a failed load (StatusCode: the HTTP status, else the
//                      engine's error code)
// OnVisible, WindowSetResizable and UpdatePageStatus have no counterpart and are never raised;
// NavigateComplete2 and DocumentComplete are raised for the top document only.
#pragma once

#include <QWebEnginePage>
#include <QWebEngineView>

#include "browser/WebBrowser.h"

class QWebEngineDownloadRequest;
class QWebEngineLoadingInfo;

namespace velm {

class TQtWebBrowser;

// Milliseconds the synchronous script call waits for the page's answer.
inline constexpr int kPageScriptTimeoutMs = 3000;

class TWebPage : public QWebEnginePage {
  Q_OBJECT
 public:
  TWebPage(QWebEngineProfile* profile, TQtWebBrowser* browser);

 protected:
  bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
  QWebEnginePage* createWindow(WebWindowType type) override;
  // Script errors and console output are never shown.
  void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString&, int,
                                const QString&) override {}

 private:
  TQtWebBrowser* fBrowser;
};

class TQtWebBrowser : public QWebEngineView, public IWebBrowser {
  Q_OBJECT
 public:
  explicit TQtWebBrowser(QWidget* parent = nullptr);
  ~TQtWebBrowser() override;

  QWidget* Widget() override { return this; }
  void SetEventSink(IWebBrowserEvents* sink) override { fSink = sink; }

  void Navigate(const std::u16string& url, int flags) override;
  void Stop() override;
  void Refresh() override;
  void Refresh2(int level) override;
  void GoBack() override;
  void GoForward() override;

  int ReadyState() const override { return fReadyState; }
  bool HasDocument() const override { return fHtmlDocument; }
  std::u16string DocumentTitle() const override { return fTitle; }
  std::u16string LocationURL() const override;
  std::u16string LocationName() const override;
  bool Busy() const override { return fBusy; }

  TFormScriptResult RunScriptInFormWindow(const std::u16string& frameName,
                                          const std::u16string& fieldName,
                                          const std::u16string& script) override;

  TWebPage* WebPage() const { return fPage; }

  // Called by the page.
  bool BeforeNavigate(const QUrl& url, bool isMainFrame);
  QWebEnginePage* NewWindow();

 private:
  void Raise(TBrowserEventArgs& args);
  void ConnectSignals();
  void OnLoadStarted();
  void OnLoadFinished(bool ok);
  void OnLoadingChanged(const QWebEngineLoadingInfo& info);
  void OnCommandState(int command, bool enabled, bool& last);
  void OnGeometryRequest(const QRect& rect);
  void OnDownload(QWebEngineDownloadRequest* download);

  TWebPage* fPage;
  IWebBrowserEvents* fSink = nullptr;
  int fReadyState = kReadyStateUninitialized;
  bool fBusy = false;
  bool fHtmlDocument = false;
  std::u16string fTitle;
  bool fCanGoBack = false;
  bool fCanGoForward = false;
  // Counts loads, so the answer of a document query that a newer load overtook is dropped.
  unsigned fLoadGeneration = 0;
};

}  // namespace velm
