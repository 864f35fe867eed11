// A message's copies into the work folder, written in place: a work copy is
// made again from the spool files after a crash and read by nobody before it
// is whole (other agents' clean-ups spare the names the message published),
// so it needs neither a temporary renamed over it nor a sync. The folder is
// opened once for the message; each file is created new (an earlier file of
// that name, or a link in its place, goes first, never followed) and filled
// by the kernel from the open source.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/os/safe_path.h"

namespace velarion::spool {

// A spool file opened for reading: never through a link at its last
// component, never waiting on a FIFO, a regular file only.
struct SpoolSource {
    safe_path::Fd fd;
    long long size = 0;  // when opened
};
// Throws std::filesystem::filesystem_error ("copy_file", path, to) as a copy
// to `to` that could not read its source.
SpoolSource open_source(const std::string& path, const std::string& to);

// Reads the open file whole from its start, when it holds at most `limit`
// bytes (nullopt beyond, or when a read fails).
std::optional<std::string> read_source(const SpoolSource& source, std::size_t limit);

class WorkCopies {
public:
    // `work`: the work folder (ending in "/"). When it cannot be opened,
    // each copy throws as one whose target folder is missing.
    explicit WorkCopies(const std::string& work);

    // The file `name` of the work folder made with these bytes, or with the
    // whole of the open file `from` (`from_path` names it in errors). Throws
    // std::filesystem::filesystem_error ("copy_file", from_path, target) with
    // the reason a copy gives (no room, a folder in its place, ...). copy()
    // returns the new file, open for reading (a backup is copied from it).
    void write(const std::string& name, std::string_view bytes, const std::string& from_path);
    safe_path::Fd copy(const std::string& name, const safe_path::Fd& from, const std::string& from_path);
    // The path of the file `name` of the work folder.
    std::string path(const std::string& name) const { return work_ + name; }
    // The file `from` of the work folder copied to `name`.
    void copy_within(const std::string& from, const std::string& name);
    // The file `from` of the work folder renamed to `name`, replacing it.
    // Throws std::filesystem::filesystem_error when it cannot.
    void rename(const std::string& from, const std::string& name);

private:
    safe_path::Fd create(const std::string& name, const std::string& from_path);
    [[noreturn]] void fail(int error, const std::string& name, const std::string& from_path);

    std::string work_;
    safe_path::Fd dir_;
};

}  // namespace velarion::spool
