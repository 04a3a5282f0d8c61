#include "app/ClientStats.h"

#include "app/AppSettings.h"
#include "net/DataLoader.h"
#include "net/URLCoding.h"
#include "update/SingleFileUpdate.h"

#include <mutex>

namespace velm {

std::string ClientStatsQuery(const std::string& report, int32_t count) {
  return "p=" + report + "&s=" + std::to_string(count) + "&pv=" + AppSettings->GetClientVersion() +
         "&fv=" + AppSettings->FlashVersionText;
}

std::string ClientStatsUrl(const std::string& report, int32_t count) {
  return GetSiteRoot() + "pub/clientstats.php?" + EncodeQuery(ClientStatsQuery(report, count));
}

void SendClientStats(const std::string& report, int32_t count) {
  // The loader percent-encodes every address it is given, so it gets the query unencoded: an
  // address encoded here first would reach the site encoded twice ("%CF" as "%25CF"). Its
  // encoding differs from EncodeQuery only in escaping "+" and the byte 0x80.
  const std::string url = GetSiteRoot() + "pub/clientstats.php?" + ClientStatsQuery(report, count);
  if (!SingleFileUpdater) return;
  std::lock_guard<std::mutex> lock(SingleFileUpdater->LoaderLock());
  std::string answer;
  SingleFileUpdater->GetLoader().GetString(url, answer, false);
}

}  // namespace velm
