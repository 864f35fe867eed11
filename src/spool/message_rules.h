// Rules of the message format that depend on one header value each: the fax
// gateway test and the delivery option.
#pragma once

#include <string>

#include "common/print_file_name.h"

namespace velarion {

struct Runtime;

namespace spool {

// Host name of the fax gateway: section "GLOBAL", key "fax_gateway" of
// velarion.ini, "fax" when missing or empty.
std::string fax_gateway(const Runtime& rt);

// True when a recipient line holds "@" followed by the gateway's host name
// (case ignored), and that name ends there: at the end of the line or before
// a character that cannot continue a host name ("x@FAX.example.it" and
// "0612345@fax" are faxes, "x@faxonline.com" is not).
bool names_fax_gateway(const std::string& line, const std::string& gateway);

// The delivery option of a message: header line 7 as written, overridden by
// the "cdo:" switch and by "tipoinvio" (with line 4 deciding "SEMPRE SEND").
std::string delivery_option(const Runtime& rt, const std::string& line7, const std::string& line4);

}  // namespace spool
}  // namespace velarion
