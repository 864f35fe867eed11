// The mail library's platform handler, with one change: a file it writes
// (a maildir message) gets every byte or an error. The library's own writer
// drops the rest of a write that the disk took only in part, so a maildir
// that fills up at a message's last block kept that message cut short and
// reported it stored. Internal to platform/.
#pragma once

namespace velarion::mail::detail {

// Installs the handler (done once by init_platform).
void install_platform_handler();

}  // namespace velarion::mail::detail
