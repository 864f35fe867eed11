// State of the spool processing that lasts for the run or one message.
#pragma once

namespace velarion {

struct RunState {
    bool work_dir_cleaned = false;  // the work directory is emptied once per run
    bool fax = false;               // fax mark of the current message
};

}  // namespace velarion
