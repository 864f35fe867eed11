// The mailbox of delivery reports as a maildir on this machine (a path, or
// maildir://localhost/<path>): its new/ and cur/ files read, reports moved
// by a rename to the Maildir++ folder ".Velarion.Rapporti". Internal to
// platform/.
#pragma once

#include <memory>
#include <string>

#include "platform/mail/mail.h"

namespace velarion::mail::detail {

std::unique_ptr<ReportBox> open_maildir_report_box(const std::string& where);

}  // namespace velarion::mail::detail
