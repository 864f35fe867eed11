// The delivery dispatcher: chooses the transport for one message and keeps
// the state of the mail layer that lasts for the run (the MAPI session, and
// the compose form with its session).
#pragma once

#include <functional>
#include <memory>

#include "delivery/delivery_outcome.h"
#include "delivery/delivery_request.h"
#include "delivery/delivery_state.h"

namespace velarion {

struct Runtime;
class Form2;

class Dispatcher {
public:
    // switch_off: what a logon failure runs to switch the agent off.
    Dispatcher(Runtime& rt, std::function<void()> switch_off);
    ~Dispatcher();
    Dispatcher(const Dispatcher&) = delete;
    Dispatcher& operator=(const Dispatcher&) = delete;

    // Delivers the message (sends it, saves it as a draft or hands it to the
    // user) and says whether that was done, or why not and whether it may be
    // tried again. The transport gets the request's account (empty with
    // "acc:" "Y").
    DeliveryOutcome sendmail(const DeliveryRequest& request);

    // The messages of a batch (a scan of the spool) share their SMTP and
    // IMAP connections: at its end they are closed (QUIT, LOGOUT), so that
    // none is kept across the wait for the next scan. The sessions stay
    // signed on and connect again for the next message.
    void end_batch() noexcept;

    const DeliveryState& state() const { return state_; }

private:
    Runtime& rt_;
    std::function<void()> switch_off_;
    DeliveryState state_;
    std::unique_ptr<Form2> compose_form_;  // made for the first message it saves, kept for the run
};

// Ends the dispatcher's batch when it leaves scope, however the scan ends.
class BatchEnd {
public:
    explicit BatchEnd(Dispatcher& dispatcher) : dispatcher_(dispatcher) {}
    ~BatchEnd() { dispatcher_.end_batch(); }
    BatchEnd(const BatchEnd&) = delete;
    BatchEnd& operator=(const BatchEnd&) = delete;

private:
    Dispatcher& dispatcher_;
};

}  // namespace velarion
