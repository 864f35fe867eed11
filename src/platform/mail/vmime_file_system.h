// The mail library's platform handler, with one change: a file it writes
// (a maildir message) gets every byte or an error. The library's own writer
// drops the rest of a write that the disk took only in part, so a maildir
// that fills up at a message's last block kept that message cut short and
// reported it stored. A maildir message is synced once, its data; the
// folder it is renamed into is synced with the caller's batch
// (sync_renamed_folders). Internal to platform/.
#pragma once

#include <string>

namespace velarion::mail::detail {

// Installs the handler (done once by init_platform).
void install_platform_handler();

// Syncs the folders files were renamed into since the last call; "" when
// all went to disk, else the first folder that did not (kept for the next call).
std::string sync_renamed_folders();

}  // namespace velarion::mail::detail
