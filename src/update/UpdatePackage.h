// Update packages: what the updater keeps current and the proxy answers from the mirror.
#pragma once

#include <atomic>
#include <string>
#include <string_view>

#include "platform/DateTime.h"

namespace velm {

struct TUpdatePackageDesc {
  int Id = 0;
  std::string Title;
  std::string BuildURL;
  std::string FileListURL;
  std::string FileQueryURL;
  std::string SiteRoot;
  std::string LocalPrefix;
  std::string MatchPrefix;
  bool InBackground = false;

  // True when the URL and MatchPrefix agree on the shorter one's length (exact bytes; URLs and
  // prefixes are lower case). Callers take the first package that matches.
  bool Matches(std::string_view url) const;
};

// Local path, relative to the program folder, of a file-list name. A LocalPrefix "-xxx" cuts its
// length minus one from the front of the name ("-info/client/": client files beside the
// executable); any other prefix goes in front of the name ("pub/"). Empty when the path would
// leave the program folder (absolute, or a ".." step), which callers must skip.
std::string LocalPathOf(const TUpdatePackageDesc& package, std::string_view name);

// Build stamp: a file date in January 2001 carries a build number in its minutes.
// BuildToDate("61") is 1 January 2001 01:01:10; text that is not a non-negative number is 0.
TDateTime BuildToDate(std::string_view build);
// The build number of a January 2001 date (seconds ignored); false for any other date.
bool DateToBuild(TDateTime date, std::string& build);

// One line of a file list after the first: "name<TAB>YYYY.MM.DD HH-MM-SS" (one-digit month, day
// and time fields allowed), blanks and control characters around it ignored. False for a line
// to skip: no tab, an empty name, a name that would leave the program folder, a bad date.
bool ParseFileListLine(std::string_view line, std::string& name, TDateTime& date);

// The updater's keys in section "Main" of the INI file.
inline constexpr char kUpdateSection[] = "Main";
inline constexpr char kBuildKeyPrefix[] = "Build";  // followed by the package Id
inline constexpr char kNoBuild[] = "-1";            // default of a Build key
inline constexpr char kUpdatedSuccessfullyKey[] = "UpdatedSuccessfully";
inline constexpr char kCurrentVersionKey[] = "CurrentVersion";
// "Build3", "Build2", "Build1".
std::string BuildKey(int packageId);

// A new client executable has been downloaded.
extern std::atomic<bool> ClientUpdated;
// The last whole update reached the site.
extern std::atomic<bool> FilesUpdated;
// The start-up update is over and the main window is up.
extern std::atomic<bool> StartupUpdateDone;

}  // namespace velm
