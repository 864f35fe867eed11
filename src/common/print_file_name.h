// What counts as a print file among a message's attachments.
#pragma once

#include <string>

namespace velarion {

// A print file: a name ending in ".txt" (any case), 10 or 13 characters long.
bool is_print_file(const std::string& name);

}  // namespace velarion
