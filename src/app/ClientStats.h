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

// Sends the request once through SingleFileUpdater's loader (under its lock, as the proxy's
// one-file update shares that loader), without compression; the site receives the query
// percent-encoded once. The answer and any failure are
// ignored: HTTP errors become quiet lines of the debug log.
void SendClientStats(const std::string& report, int32_t count);

}  // namespace velm
