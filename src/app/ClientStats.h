// The statistics request: once per run the client tells the site which plug-ins it loaded, how
// many of them are not the known one, and its own and the Flash Player's versions.
#pragma once

#include <cstdint>
#include <string>

namespace velm {

// "p=" report "&s=" count "&pv=" client version "&fv=" Flash version text, not yet encoded.
std::string ClientStatsQuery(const std::string& report, int32_t count);
// The site root, "pub/clientstats.php?" and the query encoded with EncodeQuery.
std::string ClientStatsUrl(const std::string& report, int32_t count);

}  // namespace velm
