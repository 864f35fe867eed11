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

    // Mail-account credentials for the transport ("login_email", "pwd_email").
    // Message processing leaves them empty when "acc:" is "Y"; the operator's
    // stored settings are never blanked.
    std::string login_email;
    std::string pwd_email;

    // What message processing learnt while composing the print files.
    bool fax = false;        // a recipient names the fax gateway: print files travel as zip archives
    bool allegatxt = false;  // the style asks for each print file beside its PDF ("allegatxt" "y")
};

}  // namespace velarion
