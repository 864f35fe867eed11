#include "delivery/mail_report.h"

#include <cstdio>

#include "startup/context.h"

namespace velarion::mail_report {

std::string ref(const std::string& lsNumRef) { return lsNumRef.size() > 2 ? lsNumRef.substr(2, 10) : ""; }

std::string ref_tail(const std::string& lsNumRef) { return lsNumRef.size() > 2 ? lsNumRef.substr(2) : ""; }

std::string clock_text(const Context& ctx) {
    const DateTime t = ctx.clock.now();
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t.hour, t.minute, t.second);
    return buf;
}

void tray_tip(Context& ctx, const std::string& tip) { ctx.view.set_tray_tip(tip.substr(0, 63)); }

void saved(Context& ctx, const DeliveryRequest& r) {
    ctx.list.add(" Salvato " + ref(r.lsNumRef) + " - " + r.lsTo);
    ctx.list.refresh();
    tray_tip(ctx, "Salvato " + ref(r.lsNumRef) + " - ");
}

void logon_failed(Context& ctx, const std::string& login_email, const std::string& error_text) {
    ctx.view.message_box("Accesso Fallito " + login_email);
    ctx.list.add(" Accesso Fallito Velarion Disabilitato " + login_email + " " + error_text);
    // Check1 ticked and its click handler run: automatic processing stops.
    if (ctx.switch_off)
        ctx.switch_off();
    else
        ctx.view.set_check(true);
}

void unknown_recipient(Context& ctx, const DeliveryRequest& r) {
    ctx.list.add(" Messaggio scartato " + ref_tail(r.lsNumRef) + " - Sconosciuto " + r.lsTo + " - " +
                 clock_text(ctx));
    ctx.list.refresh();
}

}  // namespace velarion::mail_report
