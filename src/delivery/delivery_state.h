// State of the mail layer that lasts for the whole run (the MAPI session).
#pragma once

namespace velarion {

struct DeliveryState {
    bool bSessioneMAPI = false;
};

}  // namespace velarion
