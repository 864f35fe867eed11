// Spool, print, INI and log files are Windows-1252 bytes; mail and the window
// show UTF-8. Conversion both ways.
#pragma once

#include <string>

namespace velarion::text {

std::string cp1252_to_utf8(const std::string& bytes);
// Characters outside Windows-1252 become "?".
std::string utf8_to_cp1252(const std::string& utf8);

// Upper and lower case of ASCII letters only (the spool protocol's keys).
std::string upper(std::string s);
std::string lower(std::string s);
std::string trim(const std::string& s);

}  // namespace velarion::text
