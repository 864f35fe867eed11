// A name for this process that no other agent, on this machine or another,
// has or will have: host name, process number and a random part.
#pragma once

#include <string>

namespace velarion {

// "<host>-<pid>-<8 hex digits>", made once per process; the host name keeps
// only letters, digits and "-" so that the name is a file name on every
// file system.
const std::string& agent_identity();

}  // namespace velarion
