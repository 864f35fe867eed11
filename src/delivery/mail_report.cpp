#include "delivery/mail_report.h"

#include <cstdio>

#include "common/runtime.h"
#include "platform/os/text_encoding.h"

namespace velarion::mail_report {

std::string ref(const std::string& lsNumRef) { return lsNumRef.size() > 2 ? lsNumRef.substr(2, 10) : ""; }

std::string ref_tail(const std::string& lsNumRef) { return lsNumRef.size() > 2 ? lsNumRef.substr(2) : ""; }

std::string clock_text(const Runtime& rt) {
    const DateTime t = rt.clock.now();
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t.hour, t.minute, t.second);
    return buf;
}

// The reference comes from the spool: its control characters are shown as "?".
void tray_tip(Runtime& rt, const std::string& tip) { rt.view.set_tray_tip(text::printable(tip.substr(0, 63))); }

void saved(Runtime& rt, const DeliveryRequest& r) {
    rt.list.add(" Salvato " + ref(r.lsNumRef) + " - " + r.lsTo);
    rt.list.refresh();
    tray_tip(rt, "Salvato " + ref(r.lsNumRef) + " - ");
}

void logon_failed(Runtime& rt, const std::function<void()>& switch_off, const std::string& account,
                  const std::string& error_text) {
    // Unattended, nobody could switch the agent on again: the spool processing
    // keeps the message queued and tries again later, and says so itself.
    if (rt.cfg.host.unattended) return;
    rt.view.message_box("Accesso Fallito " + account);
    rt.list.add(" Accesso Fallito Velarion Disabilitato " + account + " " + error_text);
    // Check1 ticked and its click handler run: automatic processing stops.
    if (switch_off)
        switch_off();
    else
        rt.view.set_check(true);
}

void unknown_recipient(Runtime& rt, const DeliveryRequest& r) {
    rt.list.add(" Messaggio scartato " + ref_tail(r.lsNumRef) + " - Sconosciuto " + r.lsTo + " - " +
                 clock_text(rt));
    rt.list.refresh();
}

void failure_box(Runtime& rt, const DeliveryOutcome& outcome, const std::string& text) {
    if (outcome.result == Delivered::failed) rt.view.message_box(text);
}

}  // namespace velarion::mail_report
