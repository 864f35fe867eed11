// Conditions of the installation rather than of a message: a file system
// without room (ENOSPC, a quota) or a folder of the agent's own that has
// vanished. A message that fails for one of them is not at fault: it waits
// in the queue for a later try and is never parked for it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velarion::spool {

// What keeps the message of these spool files (full paths) from being
// worked on or parked now: "Spazio esaurito in <folder>" when the work or
// spool folder has less room than the message may need (or the error text
// says a disk or quota is full), "Cartella mancante <folder>" when a folder
// of the agent's own is gone; "" when the installation is sound.
std::string installation_trouble(const std::string& spool, const std::string& work,
                                 const std::vector<std::string>& spool_files, const std::string& error_text);

// True when an error text tells of a full disk or quota.
bool says_disk_full(const std::string& error_text);

// The folders of the agent's own in the work folder that are gone (ending in "/").
std::vector<std::string> missing_work_folders(const std::string& work);

}  // namespace velarion::spool
