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

// The text with every control character (bytes 0 to 31 and 127) replaced by
// `replacement`; Windows-1252 bytes from 128 up stay as they are.
std::string without_controls(std::string s, char replacement);
// How activity lines, log lines, message boxes and standard error show text
// that came from outside: control characters become "?" (no line can be
// forged, no terminal escape runs), except the tab, which is only a blank
// (overlay and print-file lines are shown with theirs).
std::string printable(std::string s);

}  // namespace velarion::text
