// `velarion --resubmit FOLDER`: hands parked messages back to their spool
// folder and reports each on standard output (standard error for a failure).
#pragma once

#include <string>
#include <vector>

namespace velarion {

// Returns the exit status: 0 when every message was handed back, 1 otherwise.
int run_resubmit(const std::vector<std::string>& folders, bool force = false);

}  // namespace velarion
