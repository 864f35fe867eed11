// What counts as a print file among a message's attachments, and which
// attachment names are plain file names.
#pragma once

#include <string>

namespace velarion {

// A print file: a name ending in ".txt" (any case), 10 or 13 characters long.
bool is_print_file(const std::string& name);

// True when an attachment name read from a header may be written into the
// work directory: not empty, no folder separator, no "..", no control
// characters, not "." alone.
bool is_safe_file_name(const std::string& name);

}  // namespace velarion
