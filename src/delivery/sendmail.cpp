#include "delivery/sendmail.h"

#include "delivery/mail_profile.h"
#include "delivery/mail_report.h"
#include "delivery/mapi_delivery.h"
#include "delivery/write_mail.h"
#include "platform/text_encoding.h"
#include "startup/context.h"

namespace velarion {

bool sendmail(Context& ctx, const DeliveryRequest& r) {
    ctx.trace("sono nella send mail");
    // 1. Is the mail client Outlook or Exchange?
    const bool bClientOutlook = is_client_outlook(mail_client_name(ctx));
    // 2. With "acc:" = "Y" the transport gets no account; the operator's
    // settings themselves are left as they are.
    std::string login_email = r.login_email;
    std::string pwd_email = r.pwd_email;
    if (ctx.sw.acc == "Y") {
        login_email.clear();
        pwd_email.clear();
    }
    // 3. The SMTP sending component.
    if (text::lower(ctx.sw.cdo) == "y") {
        ctx.list.add(" Trasporto CDO non disponibile " + mail_report::ref(r.lsNumRef) + " - " + r.lsTo);
        return false;
    }
    // 4. Outlook automation.
    if (!ctx.op.outlook_version.empty()) {
        ctx.list.add(" Trasporto Outlook non disponibile " + mail_report::ref(r.lsNumRef) + " - " + r.lsTo);
        return false;
    }
    // 5. A message to be saved with Outlook or Exchange: the compose form.
    if (text::lower(r.lsSend) == "save" && bClientOutlook) {
        Form2 form(ctx);
        return form.WriteMail(r, login_email, pwd_email);
    }
    // 6. The MAPI session of the main window.
    return deliver_mapi(ctx, r, bClientOutlook, login_email);
}

}  // namespace velarion
