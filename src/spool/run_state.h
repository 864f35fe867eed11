// State of the spool processing that lasts for the run or one message.
#pragma once

#include <functional>
#include <string>

namespace velarion {

struct Context;
struct DeliveryRequest;

struct RunState {
    bool work_dir_cleaned = false;  // the work directory is emptied once per run
    bool fax = false;               // fax mark of the current message
    bool has_attachments = false;   // the current message has attachment lines
    std::string logo_dir;           // logo directory of the current scan, ending in "/"

    // When set, message processing hands each message to this function
    // instead of sendmail (same result: true = delivered). Tests and
    // benchmarks set it; the agent leaves it empty.
    std::function<bool(Context&, const DeliveryRequest&)> deliver;
};

}  // namespace velarion
