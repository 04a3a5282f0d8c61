// The tab list of this game's client: new tabs come to the front, the close mode of the client
// options picks the tab shown after a close, addresses off the game site open in the default
// browser, and Enter in the game's chat sends the message.
#pragma once

#include "browser/TabList.h"

namespace velm {

// The chat contract of the game's pages.
inline constexpr const char16_t* kChatFrameName = u"chat";
inline constexpr const char16_t* kChatFieldName = u"message";
inline constexpr const char16_t* kChatSendScript = u"chatSend()";

// Close modes of the client options.
inline constexpr int kCloseToFirst = 0;
inline constexpr int kCloseToNext = 1;
inline constexpr int kCloseToOpener = 2;

class TVelmTabList : public TTabList {
 public:
  using TTabList::TTabList;

  void CloseTab(TTab* tab) override;
  TTab* NewTab() override;
  bool IsExternalUrl(const std::u16string& url) override;
  bool ProcessEnterKeyDown() override;

 private:
  // The id of the tab to show after tab closes, 0 for none.
  int32_t CloseTarget(const TTab* tab) const;
};

// The site test on its own: external exactly when the lowered address does not contain the
// site's host name followed by "/".
bool IsExternalSiteUrl(const std::u16string& url, const std::string& siteHost);

}  // namespace velm
