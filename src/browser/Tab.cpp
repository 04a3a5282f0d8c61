#include "browser/Tab.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QObject>
#include <QVBoxLayout>
#include <QWidget>
#include <stdexcept>

#include "app/AppSettings.h"
#include "app/Debug.h"
#include "browser/ExceptionHook.h"
#include "browser/PageControl.h"
#include "browser/ShellOpen.h"
#include "browser/TabList.h"
#include "platform/Encoding.h"

namespace velm {

int32_t NextTabId = 0;

namespace {

bool StartsWith(const std::u16string& text, const char16_t* prefix) {
  return text.rfind(prefix, 0) == 0;
}

}  // namespace

TTab::TTab(TTabList* owner, bool closable) : Closable(closable), Owner(owner) {
  ++NextTabId;
  if (owner->CurrentTab) OpenerId = owner->CurrentTab->Id;
  Id = NextTabId;
  ++owner->BrowserCounter;

  Sheet = new QWidget;
  auto* layout = new QVBoxLayout(Sheet);
  layout->setContentsMargins(0, 0, 0, 0);
  owner->PageControl->addTab(Sheet, QString());

  Browser = owner->CreateBrowser(Sheet);
  Browser->Widget()->setObjectName(QStringLiteral("webBrowser%1").arg(owner->BrowserCounter));
  layout->addWidget(Browser->Widget());

  OpenPluginPages(*this, PluginEvents);
  Browser->SetEventSink(this);
}

TTab::~TTab() = default;

void TTab::Close() {
  if (Closable && !Closing) Owner->CloseTab(this);
}

void TTab::Activate() {
  QWidget* window = Owner->PageControl->window();
  if (window && window->isVisible() && window->isEnabled()) Browser->Widget()->setFocus();
  Owner->ShowStatusText(StatusText);
}

void TTab::Navigate(const std::u16string& url, bool newWindow) {
  Browser->Navigate(url, newWindow ? kNavOpenInNewWindow : 0);
}

int TTab::PageIndex() const {
  return Owner->PageControl->indexOf(Sheet);
}

void TTab::Refresh() {
  Browser->Refresh();
}

void TTab::CopyLink() {
  // The address goes through client text, as every address the client hands on.
  std::string address = Utf16ToCp1251(Browser->LocationURL());
  QGuiApplication::clipboard()->setText(QString::fromStdU16String(Cp1251ToUtf16(address)));
}

std::u16string TTab::Caption() const {
  int index = PageIndex();
  return index < 0 ? std::u16string() : Owner->PageControl->tabText(index).toStdU16String();
}

void TTab::SetCaption(const std::u16string& caption) {
  int index = PageIndex();
  if (index >= 0) Owner->PageControl->setTabText(index, QString::fromStdU16String(caption));
}

std::u16string TTab::FormatCaption(const std::u16string& text) const {
  const std::size_t max = static_cast<std::size_t>(AppSettings->GetMaxTabCaption());
  std::u16string caption = text;
  if (caption.size() > max) caption = caption.substr(0, max > 0 ? max - 1 : 0) + u"...";
  if (Closable) caption += kCloseButtonRoom;
  return caption;
}

void TTab::UpdateTitle(const std::u16string& url) {
  if (Browser->ReadyState() != kReadyStateComplete) return;
  Title = Browser->HasDocument() ? Browser->DocumentTitle() : url;
  SetCaption(FormatCaption(Title));
}

void TTab::Destroy(bool deferred) {
  Closing = true;
  ClosePluginPages(*this);
  PluginEvents.clear();
  // The dying tab takes no more events; the blank page below would otherwise reach it.
  Browser->SetEventSink(nullptr);
  Browser->Stop();
  Browser->Navigate(u"about:blank", 0);
  Browser->Widget()->hide();
  QCoreApplication::processEvents();
  int index = PageIndex();
  if (index >= 0) {
    Owner->PageControl->setTabVisible(index, false);
    Owner->PageControl->removeTab(index);
  }
  if (!deferred) {
    delete Sheet;
    Sheet = nullptr;
    Browser = nullptr;
  }
}

void TTab::BrowserEvent(TBrowserEventArgs& args) {
  // Nothing may unwind through the browser engine: what escapes goes to the exception hook.
  try {
    OwnAction(args);
    if (Closing) return;
    DispatchToPlugins(args);
    if (args.Kind == TBrowserEvent::WindowClosing && !Closing) Close();
  } catch (...) {
    if (!CallExceptionHook() && Debug) Debug->HandleException(std::string());
  }
}

void TTab::OwnAction(TBrowserEventArgs& args) {
  switch (args.Kind) {
    case TBrowserEvent::StatusTextChange:
      StatusText = args.Text;
      if (Owner->CurrentTab == this) Owner->ShowStatusText(StatusText);
      break;
    case TBrowserEvent::BeforeNavigate2:
      BeforeNavigate2(args);
      break;
    case TBrowserEvent::NewWindow2:
      NewWindow2(args);
      break;
    case TBrowserEvent::NavigateComplete2:
      UpdateTitle(args.Url);
      break;
    case TBrowserEvent::DocumentComplete:
      UpdateTitle(args.Url);
      if (Debug) Debug->LogInfo("Page loaded: " + Utf16ToCp1251(args.Url));
      break;
    default:
      break;
  }
}

void TTab::BeforeNavigate2(TBrowserEventArgs& args) {
  if (StartsWith(args.Url, u"http:") && Owner->IsExternalUrl(args.Url)) {
    ShellOpen(args.Url);
    args.Cancel = true;
    if (Caption().empty()) Close();
    return;
  }
  if (Caption().empty()) SetCaption(FormatCaption(kLoadingCaption));
}

void TTab::NewWindow2(TBrowserEventArgs& args) {
  std::u16string lowered = QString::fromStdU16String(StatusText).toLower().toStdU16String();
  if (StartsWith(lowered, u"http:") && Owner->IsExternalUrl(lowered)) {
    ShellOpen(StatusText);
    args.Cancel = true;
    return;
  }
  TTab* tab = Owner->NewTab();
  args.NewWindow = tab->Browser;
}

void TTab::DispatchToPlugins(TBrowserEventArgs& args) {
  const auto slot = static_cast<std::size_t>(args.Kind);
  // By position: a plug-in may close the tab, which empties the tables.
  for (std::size_t i = 0; i < PluginEvents.size() && !Closing; ++i) {
    TPluginEventEntry entry = PluginEvents[i].Entries[slot];
    if (!entry) continue;
    try {
      entry(*this, args);
    } catch (const std::exception& e) {
      if (Debug) Debug->LogException(e);
    } catch (...) {
      if (Debug) Debug->LogException(std::runtime_error("unknown error in a plug-in"));
    }
  }
}

}  // namespace velm
