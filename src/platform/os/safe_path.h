// Files named by spool input, reached only below the folders the
// installation configured (the roots), and never through a symbolic link
// that could lead elsewhere. A path is judged by its real location (links of
// its existing part resolved); the path below the root is then opened by
// the kernel confined to the root with no link followed (openat2), or, where
// the kernel lacks that, folder by folder without following links, so a link
// swapped in after the check is refused as well.
#pragma once

#include <optional>
#include <streambuf>
#include <string>
#include <string_view>
#include <vector>

#include "platform/os/atomic_file.h"

namespace velarion::safe_path {

// An open file descriptor, closed with the object.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd();
    Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Fd& operator=(Fd&& other) noexcept;
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    bool valid() const { return fd_ >= 0; }
    int get() const { return fd_; }

private:
    int fd_ = -1;
};

// The real location of a path ("\" or "/" separators; relative to the
// current folder when not absolute): the links of its existing part
// resolved, the missing rest appended. "" when the missing rest holds "." or
// "..".
std::string real_location(const std::string& path);

// True when path's real location is one of the roots or lies below one.
// Roots are judged by their real locations too; an empty or missing root
// allows nothing.
bool is_below(const std::string& path, const std::vector<std::string>& roots);

// The same for a file to be read: false too when it is a file with more than
// one name (a hard link), which may be a file outside the roots as well.
bool readable_below(const std::string& path, const std::vector<std::string>& roots);

// Opens an existing regular file for reading, never through a symbolic link
// at its last component. Invalid when the path is a link, no regular file, or
// cannot be opened.
Fd open_nofollow(const std::string& path);

// True when the path itself (its last component) is a symbolic link.
bool is_link(const std::string& path);

enum class Status {
    ok,
    missing,  // nothing there, though the place is allowed
    refused,  // outside the roots, a link on the way, or not a regular file
};

struct Opened {
    Status status = Status::refused;
    Fd fd;
};

// Opens for reading the regular file at path when its real location lies
// below one of the roots; a file with more than one name is refused.
Opened open_below(const std::string& path, const std::vector<std::string>& roots);

// Reads the open file whole from its start (without moving its offset);
// nullopt when it is not open or a read fails.
std::optional<std::string> read_whole(const Fd& fd);

// A stream buffer reading an open file from its current offset, for the
// readers that take a std::istream: the file stays the one opened.
class FdReader : public std::streambuf {
public:
    explicit FdReader(const Fd& fd) : fd_(fd.get()) {}
    // True once a read failed (the stream then saw the end of the file).
    bool failed() const { return failed_; }

protected:
    int_type underflow() override;

private:
    int fd_;
    bool failed_ = false;
    // 64 KB: a long listing read in smaller pieces costs thousands of system
    // calls a pass; on the heap, so readers on small thread stacks stay safe.
    std::vector<char> buffer_ = std::vector<char>(64 * 1024);
};

// Opens the folder (as a directory descriptor) when its real location lies
// below one of the roots. With create, missing folders below the root are
// made; outside the roots nothing is ever made.
Fd open_folder_below(const std::string& folder, const std::vector<std::string>& roots, bool create);

// Writes bytes as the new contents of target, below one of the roots: a
// temporary in the target's folder renamed over it, so a link at the target
// is replaced, never written through. With create, missing folders below the
// root are made. False when refused or when the write fails.
bool write_below(const std::string& target, std::string_view bytes, const std::vector<std::string>& roots,
                 bool create = false);

// The same with the bytes of the regular file source, which is opened
// without following a link at its last component. A work file that can be
// made again after a crash skips the sync (atomic_file.h).
bool copy_below(const std::string& source, const std::string& target, const std::vector<std::string>& roots,
                bool create = false, atomic_file::Sync sync = atomic_file::Sync::durable);

// Appends bytes to target below one of the roots (created when missing in an
// existing folder), never through a link. All or nothing: a failed write cuts
// the file back to its former size. False when refused or not written.
bool append_below(const std::string& target, std::string_view bytes, const std::vector<std::string>& roots);

}  // namespace velarion::safe_path
