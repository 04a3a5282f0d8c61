#include "browser/VelmTabList.h"

#include <QString>

#include "app/AppSettings.h"
#include "app/Debug.h"
#include "app/Options.h"
#include "browser/PageControl.h"

namespace velm {

bool IsExternalSiteUrl(const std::u16string& url, const std::string& siteHost) {
  const QString lowered = QString::fromStdU16String(url).toLower();
  const QString needle = QString::fromStdString(siteHost) + QLatin1Char('/');
  return !lowered.contains(needle);
}

TTab* TVelmTabList::NewTab() {
  TTab* tab = TTabList::NewTab();
  // The open-window mode is not consulted: a new tab always comes to the front.
  PageControl->setCurrentIndex(tab->PageIndex());
  SyncCurrentTab();
  return tab;
}

int32_t TVelmTabList::CloseTarget(const TTab* tab) const {
  int position = -1;
  for (int i = 0; i < Count(); ++i)
    if (TabAt(i) == tab) position = i;
  const TTab* target = nullptr;
  switch (Options ? Options->CloseWindowMode() : kCloseToFirst) {
    case kCloseToFirst:
      target = TabAt(0);
      break;
    case kCloseToNext:
      target = TabAt(position + 1) ? TabAt(position + 1) : TabAt(position - 1);
      break;
    case kCloseToOpener:
      target = FindTab(tab->OpenerId);
      break;
    default:
      break;
  }
  return target ? target->Id : 0;
}

void TVelmTabList::CloseTab(TTab* tab) {
  if (!tab || tab->Closing) return;
  const int32_t targetId = CloseTarget(tab);
  RemoveTab(tab);
  for (const auto& other : Tabs) {
    if (other->Id != targetId) continue;
    PageControl->setCurrentIndex(other->PageIndex());
    break;
  }
  SyncCurrentTab();
}

bool TVelmTabList::IsExternalUrl(const std::u16string& url) {
  return IsExternalSiteUrl(url, GetSiteHost());
}

bool TVelmTabList::ProcessEnterKeyDown() {
  if (!CurrentTab || !CurrentTab->Browser) return false;
  const TFormScriptResult result =
      CurrentTab->Browser->RunScriptInFormWindow(kChatFrameName, kChatFieldName, kChatSendScript);
  switch (result.Status) {
    case TFormScriptStatus::Ran:
      return true;
    case TFormScriptStatus::Failed:
      if (Debug) Debug->LogError("Exception in ProcessEnterKeyDown: " + result.Error);
      return false;
    default:
      return false;
  }
}

}  // namespace velm
