// LEGGI_DIR: the spool directory scan run on every timer tick, and the
// scanner that owns what lasts between scans (the run state, the queue of
// the spool folder with this agent's claims, and the delivery dispatcher
// with its mail session).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "delivery/sendmail.h"
#include "spool/folder_watch.h"
#include "spool/run_state.h"
#include "spool/settle.h"

namespace velarion {

struct Runtime;
struct DeliveryRequest;

namespace spool {
class SpoolListing;
class SpoolQueue;
class WorkClaims;
}  // namespace spool

class SpoolScanner {
public:
    // switch_off: what ends automatic processing as checking Check1 does
    // (never called when the agent runs unattended).
    SpoolScanner(Runtime& rt, std::function<void()> switch_off);
    ~SpoolScanner();
    SpoolScanner(const SpoolScanner&) = delete;
    SpoolScanner& operator=(const SpoolScanner&) = delete;

    void LEGGI_DIR();

    // The user switched the agent on: a hold on delivery (a server that could
    // not be reached, a refused logon) ends, and the next scan tries at once.
    void resume();

    // When set, each message is handed to this function instead of the
    // dispatcher's sendmail (same result). Tests and benchmarks set it; the
    // agent leaves it empty.
    using Deliver = std::function<DeliveryOutcome(const DeliveryRequest&)>;
    void set_deliver(Deliver deliver) { deliver_ = std::move(deliver); }

    // Run after each message is settled (the window logic writes the log there).
    void set_after_message(std::function<void()> f) { after_message_ = std::move(f); }
    // Writes the log before a message changes place in a way a kill could cut short.
    void set_save_log(std::function<void()> f) { save_log_ = std::move(f); }

    // Asked before each message: true when the agent is closing, so that the
    // scan takes no further message (the one in flight is finished and the
    // batch concluded first).
    void set_closing(std::function<bool()> f) { closing_ = std::move(f); }

    // What lasts for the run (tests set it to stand for a run under way).
    RunState& run_state() { return run_; }

    // A spool folder unchanged since a listing that held none of the
    // operators' triggers is listed again at least this often, by the
    // monotonic clock (folder_watch.h); changed, at the next tick.
    static constexpr long long kSpoolRelistMs = 5000;

private:
    struct Scan;
    // The scan's checks; false (after the message box) when one fails.
    bool checks_pass(const std::string& spool, const std::string& work, const spool::FolderLook& spool_look,
                     bool claims_intact);
    void refuse(const std::string& text);
    void open_queue(const std::string& spool, const std::string& work, const spool::FolderLook& spool_look,
                    bool claims_intact);
    void scan_error(int number, const std::string& line, bool listing_failed);

    Runtime& rt_;
    std::function<void()> switch_off_;
    RunState run_;
    Dispatcher dispatcher_;
    Deliver deliver_;
    std::function<void()> after_message_;
    std::function<void()> save_log_;
    std::function<bool()> closing_;
    std::unique_ptr<spool::SpoolQueue> queue_;
    std::unique_ptr<spool::WorkClaims> work_claims_;
    spool::ConcludedBatch batch_;  // delivered messages whose spool files wait for one sync
    // The spool folder's status at its last listing that held no trigger of
    // the operators (`spool_prefixes_`).
    spool::FolderWatch spool_watch_{kSpoolRelistMs};
    std::vector<std::string> spool_prefixes_;
    std::string work_named_;  // the work folder whose name was last found to end in "tempozip/"
};

}  // namespace velarion
