// Lists written in one text ("a;b;c", the folders of a key, the addresses of
// a header): the entries between their separators. The one splitter of the
// program's lists.
#pragma once

#include <string>
#include <vector>

namespace velarion::text {

// Every entry between separators, in order, empty ones too: "a;;b;" gives
// "a", "", "b" and "".
std::vector<std::string> split(const std::string& list, char separator);

// The entries with their blanks trimmed, the empty ones left out.
std::vector<std::string> entries(const std::string& list, char separator);

}  // namespace velarion::text
