// Where the running program lives, and small path helpers with "/" as the delimiter.
#pragma once

#include <string>
#include <string_view>

namespace velm {

// Full path of the running executable (/proc/self/exe).
std::string ExePath();
// Folder of the executable with a trailing "/".
std::string ExeDir();
// Tests place "the executable" in a temporary program folder; an empty path restores the real one.
void OverrideExePathForTesting(const std::string& path);
// Makes the executable's folder the current folder; false when that fails.
bool SetCurrentDirToExeDir();

// "dir/name.ext" -> "dir/name" + ext; a name without extension gets ext appended.
std::string ChangeFileExt(std::string_view path, std::string_view ext);
// The part after the last "/".
std::string ExtractFileName(std::string_view path);
// The part up to and including the last "/", or empty.
std::string ExtractFilePath(std::string_view path);
// The folder part made absolute against the current folder; "." and ".." segments resolved.
std::string ExpandFileName(std::string_view path);

}  // namespace velm
