// A folder that belongs to this process's user alone (a queue folder, as
// Postfix keeps its queue): opened once as a descriptor without following a
// link, refused when it is a link, no folder, owned by another user, or
// writable by group or others, and then reached only by *at() calls relative
// to that descriptor, so that nothing swapped in by path later (a link, a
// folder of someone else's) is ever followed. Files in it are opened without
// waiting (a FIFO cannot hold the caller) and read only when plain files.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/os/atomic_file.h"
#include "platform/os/safe_path.h"

namespace velarion {

class PrivateFolder {
public:
    // Why a folder may not be used.
    enum class Refusal { none, missing, link, not_folder, foreign_owner, open_to_others, unreadable };

    struct Opened;  // below

    // Opens the folder `name` of the open folder parent_fd; with create a
    // missing one is made first (mode 0700).
    static Opened open(int parent_fd, const std::string& name, bool create);
    // The same for a folder named by path (the last component is not followed).
    static Opened open(const std::string& path, bool create);

    int fd() const { return fd_.get(); }
    // True while `name` of the open folder parent_fd is still this folder
    // (not removed, renamed away or replaced).
    bool still_at(int parent_fd, const std::string& name) const;

    // The kinds of entries, judged without following a link.
    enum class Kind { missing, plain, other };
    Kind kind(const std::string& name) const;
    bool exists(const std::string& name) const { return kind(name) != Kind::missing; }
    // Modification time of a plain file in ns; -1 when none.
    long long modified_ns(const std::string& name) const;

    // The names of the plain files (hidden ones included, "." and ".." not).
    std::vector<std::string> plain_files() const;
    // The names of the folders in it (links not followed).
    std::vector<std::string> folders() const;

    // Opens a plain file for reading (invalid for anything else: a link, a
    // FIFO, a device, a folder).
    safe_path::Fd open_plain(const std::string& name) const;
    // At most `limit` bytes of a plain file; "" when it is none.
    std::string read(const std::string& name, std::size_t limit) const;
    // Replaces the file `name` (a temporary renamed over it).
    bool write(const std::string& name, std::string_view bytes, atomic_file::Sync sync) const;

    // Renames within the folder; false with errno.
    bool rename(const std::string& from, const std::string& to) const;
    // Renames between another open folder and this one; false with errno.
    bool rename_in(int from_dir, const std::string& from, const std::string& to) const;
    bool rename_out(const std::string& from, int to_dir, const std::string& to) const;
    // Removes a file, or a folder with what it holds (links not followed).
    // True when it is gone.
    bool remove(const std::string& name) const;
    // Puts the folder's entries on disk.
    bool sync() const;

private:
    PrivateFolder(safe_path::Fd fd, dev_t dev, ino_t ino) : fd_(std::move(fd)), dev_(dev), ino_(ino) {}
    safe_path::Fd fd_;
    dev_t dev_;
    ino_t ino_;
};

struct PrivateFolder::Opened {
    std::optional<PrivateFolder> folder;
    Refusal refusal = Refusal::missing;
    uid_t owner = 0;  // the folder's owner, for a foreign_owner refusal
    mode_t mode = 0;  // its permission bits, for an open_to_others refusal
};

}  // namespace velarion
