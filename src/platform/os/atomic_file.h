// Replacing a file in one step: the new contents go to a temporary file made
// in the target's own folder (created exclusively, never through a symbolic
// link), are synced to disk, and the temporary is renamed over the target. A
// reader sees the old file or the whole new one, never a part; a failure
// leaves the target as it was and removes the temporary.
//
// A work file (a PDF composed in the work folder, a merge or protection
// result) can be made again from the message's claim after a crash, so it
// skips the sync: the rename still makes it whole for every reader, and the
// sync (0.4-4 ms on a disk) would be most of a one-page document's cost.
#pragma once

#include <string>
#include <string_view>

namespace velarion::atomic_file {

enum class Sync {
    durable,    // synced before the rename: survives a power cut
    work_file,  // not synced: made again from the claim after a crash
};

class Replacement {
public:
    // Creates the temporary beside `target` (mode 0666 less the umask, as a
    // plain file creation gives; with keep_mode, the permission bits of an
    // existing target, so that a private file stays private). ok() is false
    // when it cannot be created.
    explicit Replacement(std::string target, bool keep_mode = false);
    // The same for the file `name` of the open folder dir_fd (which must stay
    // open until commit): the temporary and the rename are made relative to
    // it, so the folder cannot be swapped for another in between.
    Replacement(int dir_fd, std::string name);
    ~Replacement();  // removes the temporary unless committed
    Replacement(const Replacement&) = delete;
    Replacement& operator=(const Replacement&) = delete;

    bool ok() const { return fd_ >= 0 && !failed_; }
    int fd() const { return fd_; }
    const std::string& temp_path() const { return temp_; }

    // Appends bytes exactly as given; false (and ok() false) on a write error.
    bool write(std::string_view bytes);
    // Syncs (when durable), closes and renames over the target; false when
    // any step fails.
    bool commit(Sync sync = Sync::durable);

private:
    void create(bool keep_mode);

    int dir_fd_;  // AT_FDCWD for a path
    std::string target_;
    std::string temp_;
    int fd_ = -1;
    bool failed_ = false;
    bool committed_ = false;
};

// Writes bytes as the new contents of target.
bool write(const std::string& target, std::string_view bytes, Sync sync = Sync::durable);
// The same keeping the permission bits of an existing target.
bool write_keeping_mode(const std::string& target, std::string_view bytes);
// Copies the file source (bytes unchanged) over target. The source is never
// read through a symbolic link at its last component.
bool copy(const std::string& source, const std::string& target, Sync sync = Sync::durable);
// Puts the contents of the open file `fd` (from its start) over target in
// the same way. With `may_link` and an unnamed file (O_TMPFILE) on the
// target's file system, the file itself gets the temporary name, without a
// copy; otherwise its bytes are copied. A durable file is synced first.
bool replace_with(int fd, const std::string& target, bool may_link, Sync sync = Sync::durable);
// Copies the bytes of the open file source_fd (from its current offset) to
// the file `name` of the open folder dir_fd.
bool copy_fd(int source_fd, int dir_fd, const std::string& name, Sync sync = Sync::durable);

}  // namespace velarion::atomic_file
