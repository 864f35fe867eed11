// LEGGI_DIR: the spool directory scan run on every timer tick, and the
// scanner that owns what lasts between scans (the run state and the delivery
// dispatcher with its mail session).
#pragma once

#include <functional>

#include "delivery/sendmail.h"
#include "spool/run_state.h"

namespace velarion {

struct Runtime;
struct DeliveryRequest;

class SpoolScanner {
public:
    // switch_off: what ends automatic processing as checking Check1 does.
    SpoolScanner(Runtime& rt, std::function<void()> switch_off);
    SpoolScanner(const SpoolScanner&) = delete;
    SpoolScanner& operator=(const SpoolScanner&) = delete;

    void LEGGI_DIR();

    // When set, each message is handed to this function instead of the
    // dispatcher's sendmail (same result: true = delivered). Tests and
    // benchmarks set it; the agent leaves it empty.
    using Deliver = std::function<bool(const DeliveryRequest&)>;
    void set_deliver(Deliver deliver) { deliver_ = std::move(deliver); }

    // What lasts for the run (tests set it to stand for a run under way).
    RunState& run_state() { return run_; }

private:
    Runtime& rt_;
    std::function<void()> switch_off_;
    RunState run_;
    Dispatcher dispatcher_;
    Deliver deliver_;
};

}  // namespace velarion
