// The activity lines and tray tips of the mail transports.
#pragma once

#include <functional>
#include <string>

#include "delivery/delivery_outcome.h"
#include "delivery/delivery_request.h"

namespace velarion {

struct Runtime;

namespace mail_report {

// Characters 3 to 12 of the reference (what lines and tips show).
std::string ref(const std::string& lsNumRef);
// The reference from character 3 to its end.
std::string ref_tail(const std::string& lsNumRef);
// The current time as "hh:mm:ss".
std::string clock_text(const Runtime& rt);

// Sets the tray icon's tip (at most 63 characters, as the 64-byte field holds).
void tray_tip(Runtime& rt, const std::string& tip);

// " Salvato <ref> - <lsTo>" and the tip "Salvato <ref> - ".
void saved(Runtime& rt, const DeliveryRequest& r);

// Logon failure (32003): message box, " Accesso Fallito Velarion Disabilitato ..."
// naming the account that was refused, and the agent switched off through
// switch_off (Check1 ticked when there is none). Nothing of this when the
// agent runs unattended.
void logon_failed(Runtime& rt, const std::function<void()>& switch_off, const std::string& account,
                  const std::string& error_text);

// The box of a transport's failure, only when nobody else will deal with
// it: a failure the agent tries again by itself (a server that cannot be
// reached, a temporary answer, a message that may have been delivered) opens
// none, so that nothing waits for a click; the activity line and the
// window's warning say it instead.
void failure_box(Runtime& rt, const DeliveryOutcome& outcome, const std::string& text);

// Unknown recipient (32014): " Messaggio scartato ... - Sconosciuto ...".
void unknown_recipient(Runtime& rt, const DeliveryRequest& r);

}  // namespace mail_report
}  // namespace velarion
