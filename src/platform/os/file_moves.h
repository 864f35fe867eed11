// Moving files so that a crash leaves each one in its old place or its new
// one: a rename within a file system (atomic on local disks, NFS and SMB),
// and across file systems a copy synced to disk before the original goes.
#pragma once

#include <string>

namespace velarion::file_moves {

// Syncs a folder's entries (names made, renamed or removed) to disk.
bool sync_folder(const std::string& dir);

// Moves `from` to `to` (a full path; an existing file there is replaced).
// False, with the reason in *error, when neither the rename nor the copy
// could be done; `from` then stays where it was.
bool move(const std::string& from, const std::string& to, std::string* error = nullptr);

}  // namespace velarion::file_moves
