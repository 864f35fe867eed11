// The queue folder "coda/" of a spool folder, as the agent and the queue
// commands reach it: opened once as a descriptor without following a link,
// and used only when it is a folder of the agent's user that nobody else may
// write (the way Postfix checks its queue folders). Everything below it (the
// entries, the records, "agenti/" with the agents' locks) is reached by *at()
// calls relative to that descriptor, never by a path that could have been
// swapped for a link; files are opened without waiting and read only when
// they are plain files.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/os/private_folder.h"
#include "spool/queue_record.h"

namespace velarion::spool {

// A queue folder that may not be used; what() is the line that says why.
struct UnsafeQueueFolder : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class QueueFolder {
public:
    // Opens the queue folder of `spool` (ending in "/"). With create a
    // missing one (and its "agenti/") is made for this user alone; without,
    // nullopt when there is none yet. Throws UnsafeQueueFolder when it is a
    // link, no folder, another user's or writable by others, and
    // NumberedError 52 when the spool folder cannot be opened.
    static std::optional<QueueFolder> open(const std::string& spool, bool create);

    const std::string& spool() const { return spool_; }
    std::string path() const { return spool_ + "coda/"; }
    // The path of `name` in the queue folder for a routine that opens by
    // path: through this descriptor (/proc/self/fd/N/name) where /proc shows
    // it, so that a coda/ swapped meanwhile is not followed; else path() + name.
    std::string reach(const std::string& name) const;
    int spool_fd() const { return spool_fd_.get(); }
    const PrivateFolder& dir() const { return coda_; }
    // The agents' folder "agenti/", checked as the queue folder is; nullopt
    // when it is missing (and not created).
    std::optional<PrivateFolder> agents(bool create) const;

    // True while the spool folder's path and its "coda" are still the
    // folders opened (not removed, renamed away or replaced).
    bool intact() const;
    // The same with the spool folder's status by its path, just read.
    bool intact(const struct stat& spool_by_path) const;

    static std::string entry(const std::string& trigger, const std::string& owner) { return trigger + "@" + owner; }
    static std::string record_name(const std::string& trigger) { return trigger + ".stato"; }

    // The triggers in the queue with their owners (plain files only).
    struct Entry {
        std::string name;
        std::string owner;
    };
    std::vector<Entry> entries() const;

    // The record of a trigger (a few KB at most are read); none when missing
    // or no plain file.
    QueueRecord record(const std::string& trigger) const;
    bool write_record(const std::string& trigger, const QueueRecord& record, atomic_file::Sync sync) const;
    // Appends `lines` to the record (made when missing) in one write,
    // without a sync: a kill leaves the record as it was or with all of
    // them. False when not written (or the record is no plain file).
    bool append_record(const std::string& trigger, const std::string& lines) const;

private:
    QueueFolder(std::string spool, safe_path::Fd spool_fd, PrivateFolder coda);

    std::string spool_;
    safe_path::Fd spool_fd_;
    dev_t spool_dev_ = 0;  // the open spool folder's identity
    ino_t spool_ino_ = 0;
    PrivateFolder coda_;
    std::string through_;  // "/proc/self/fd/<n>/" where /proc shows the descriptor (looked at once), else ""
};

// The line that says why a private folder of the queue may not be used ("" for none).
std::string queue_folder_refusal(const std::string& path, const PrivateFolder::Opened& opened);

}  // namespace velarion::spool
