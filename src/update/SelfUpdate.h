// Self-update of the client executable. The start-up update stores the new executable beside
// the running one as NAME.new-exe; the old process starts it with "-selfupdate" and ends; the
// new process waits for the old one to end, copies itself over NAME (keeping the site's date and
// the run bit), starts NAME without arguments and ends.
#pragma once

#include <string>
#include <vector>

namespace velm {

inline constexpr const char* kNewExeExtension = ".new-exe";
inline constexpr const char* kSelfUpdateSwitch = "-selfupdate";
// How long the replacing process waits for the old one to end before it gives up.
inline constexpr int kSelfUpdateWaitMs = 60000;

// Starts the program named by the first token of commandLine with the other tokens as its
// arguments, in the caller's folder and environment, detached: nobody waits for it and it leaves
// no zombie. Tokens are separated by blanks; a token in double quotes may contain blanks.
// True when the program was started.
bool RunProcess(const std::string& commandLine);

// The blank-separated tokens of a command line ("..." keeps blanks inside a token).
std::vector<std::string> SplitCommandLine(const std::string& commandLine);
// A path as one command-line token: in double quotes when it contains a blank.
std::string QuoteCommandLineToken(const std::string& token);

// The hand-off of the old process: the running executable's NAME.new-exe and "-selfupdate".
std::string SelfUpdateCommandLine();

// Run by NAME.new-exe started with "-selfupdate": waits (at most waitMs) until the client of this
// folder has ended, replaces NAME with a copy of itself and starts it. True when the copy and the
// start succeeded; on false NAME is untouched or whole, and the caller goes on as a normal start.
bool SelfUpdate(int waitMs = kSelfUpdateWaitMs);

}  // namespace velm
