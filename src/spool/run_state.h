// State of the spool scan that lasts for the run.
#pragma once

namespace velarion {

struct RunState {
    bool work_dir_cleaned = false;  // the work directory is emptied once per run
    bool aix = false;               // "so:AIX", or the marker file seen: processed files are renamed ".FATTO"
};

}  // namespace velarion
