// The clean-up of the work folder: on the first message of each run and of
// each new day, every file goes but "note.txt" and the files another live
// agent's message uses; folders stay, except the dated folders of copies
// below "non_copiati" that are older than the retention.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/os/clock.h"

namespace velarion {

struct Runtime;
struct RunState;

namespace spool {

// True when the next message is the first of the run or of a new day.
bool clean_up_due(const RunState& run, const DateTime& now);
// Notes that the clean-up ran today.
void mark_cleaned(RunState& run, const DateTime& now);

// Removes the files (and symbolic links) of `work` but "note.txt" (in any
// case) and the names that in_use() gives (work_claims.h); then the folders
// non_copiati/<yyyy>/<mmdd> older than retention_days. in_use() is asked
// again right before each file goes, and a file goes only when it is still
// the one listed (its inode): an agent names its files before it makes
// them, so a copy another agent makes meanwhile, even under a name listed
// before, is never removed. Files that cannot be removed are left.
void clean_work_dir(Runtime& rt, const std::string& work,
                    const std::function<std::vector<std::string>()>& in_use, int retention_days);

}  // namespace spool
}  // namespace velarion
