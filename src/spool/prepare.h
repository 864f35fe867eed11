// Prepare mode: instead of being delivered, the message is copied into a
// second spool directory (named by "PREPARA:" in "ParGenerali") for a later
// stage, with its header as the new trigger.
#pragma once

#include <string>

namespace velarion {

struct Runtime;

namespace spool {

// The prepare directory named in "ParGenerali" ("PREPARA:<dir>;"), ending in "/".
const std::string& prepare_dir(const Runtime& rt);

// Copies header, body and PDF (or the single attachment) of the message
// `base` from the work directory into the prepare directory. `last_line` is
// the last header line read. `step` follows the progress for error lines.
void prepare_message(Runtime& rt, const std::string& work, const std::string& base,
                     const std::string& last_line, int& step);

}  // namespace spool
}  // namespace velarion
