// Rules of the message format that depend on one header value each: the fax
// gateway test, the delivery option, what counts as a print file.
#pragma once

#include <string>

namespace velarion {

struct Context;

namespace spool {

// Host name of the fax gateway: section "GLOBAL", key "fax_gateway" of
// velarion.ini, "fax" when missing or empty.
std::string fax_gateway(const Context& ctx);

// True when a recipient line holds "@" followed by the gateway's host name
// (case ignored), and that name ends there: at the end of the line or before
// a character that cannot continue a host name ("x@FAX.example.it" and
// "0612345@fax" are faxes, "x@faxonline.com" is not).
bool names_fax_gateway(const std::string& line, const std::string& gateway);

// The delivery option of a message: header line 7 as written, overridden by
// the "cdo:" switch and by "tipoinvio" (with line 4 deciding "SEMPRE SEND").
std::string delivery_option(const Context& ctx, const std::string& line7, const std::string& line4);

// A print file: a name ending in ".txt" (any case), 10 or 13 characters long.
bool is_print_file(const std::string& name);

// The text with control characters shown as "?" (for activity lines).
std::string printable(std::string text);

}  // namespace spool
}  // namespace velarion
