// leggi_file_messaggio: one message, just copied into the work directory,
// read into a delivery request and delivered (or handed to the prepare
// directory). What becomes of a message that was not delivered (parked below
// "non_inviati", tried again later) is the spool scan's decision.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "delivery/delivery_outcome.h"

namespace velarion {

struct Runtime;
struct DeliveryRequest;

// Hands a message on to its transport and says what became of it.
using MessageDelivery = std::function<DeliveryOutcome(const DeliveryRequest&)>;

struct MessageOutcome {
    DeliveryOutcome delivery;                   // failed, with the error line's text, when processing failed
    std::vector<std::string> attachment_names;  // the header's attachment lines read
    std::string option;                         // the delivery option ("SEND", "SAVE", ...), when read
};

// What the scan already read of the message, the bytes its work copies hold:
// processing reads them from here instead of reading the copies again.
struct MessageText {
    const std::string* header = nullptr;  // none: read from the work copy
    const std::string* body = nullptr;    // none: read from the work copy
    bool no_body = false;                 // the message has no body file at all
};

MessageOutcome leggi_file_messaggio(Runtime& rt, const MessageDelivery& deliver, const std::string& lsFile_origine,
                                    const MessageText& text = {});

}  // namespace velarion
