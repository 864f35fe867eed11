// The delivery request: the nine values message processing builds and the
// transports receive, always in this order.
#pragma once

#include <array>
#include <string>

namespace velarion {

struct DeliveryRequest {
    std::string lsObj;     // subject
    std::string lsNumRef;  // reference
    std::string lsFrom;    // sender
    std::string lsTo;      // recipients, ";"-separated
    std::string lsSend;    // delivery option
    std::string lvBody;    // body text
    std::array<std::string, 51> lsAttacchedFile;  // attachment names, entries 0 to 50
    std::string lscc;      // copy recipients
    std::string plus_ccn;  // blind-copy recipients
};

}  // namespace velarion
