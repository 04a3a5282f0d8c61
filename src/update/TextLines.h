// Splitting of received text into lines, the way file lists and one-file answers are read.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velm {

// Lines end at CR LF, CR or LF; a break at the very end opens no further line.
std::vector<std::string> SplitTextLines(std::string_view text);

}  // namespace velm
