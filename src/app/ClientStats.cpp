#include "app/ClientStats.h"

#include "app/AppSettings.h"
#include "net/URLCoding.h"

namespace velm {

std::string ClientStatsQuery(const std::string& report, int32_t count) {
  return "p=" + report + "&s=" + std::to_string(count) + "&pv=" + AppSettings->GetClientVersion() +
         "&fv=" + AppSettings->FlashVersionText;
}

std::string ClientStatsUrl(const std::string& report, int32_t count) {
  return GetSiteRoot() + "pub/clientstats.php?" + EncodeQuery(ClientStatsQuery(report, count));
}

}  // namespace velm
