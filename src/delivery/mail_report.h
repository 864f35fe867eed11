// The activity lines and tray tips of the mail transports.
#pragma once

#include <string>

#include "delivery/delivery_request.h"

namespace velarion {

struct Context;

namespace mail_report {

// Characters 3 to 12 of the reference (what lines and tips show).
std::string ref(const std::string& lsNumRef);
// The reference from character 3 to its end.
std::string ref_tail(const std::string& lsNumRef);
// The current time as "hh:mm:ss".
std::string clock_text(const Context& ctx);

// Sets the tray icon's tip (at most 63 characters, as the 64-byte field holds).
void tray_tip(Context& ctx, const std::string& tip);

// " Salvato <ref> - <lsTo>" and the tip "Salvato <ref> - ".
void saved(Context& ctx, const DeliveryRequest& r);

// Logon failure (32003): message box, " Accesso Fallito Velarion Disabilitato ..."
// and the agent switched off.
void logon_failed(Context& ctx, const std::string& login_email, const std::string& error_text);

// Unknown recipient (32014): " Messaggio scartato ... - Sconosciuto ...".
void unknown_recipient(Context& ctx, const DeliveryRequest& r);

}  // namespace mail_report
}  // namespace velarion
