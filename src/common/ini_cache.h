// INI files kept for the whole run (the style and barcode files): each is
// opened through the confined open at every use and read again only when the
// file opened is another version, so a burst of messages reads it once. The
// other files a style names (overlays) are kept here too, as what was made
// from one version of each, within a bound.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/os/ini_file.h"

namespace velarion {

class IniCache {
public:
    // The file's contents as last read. The file is opened once per call,
    // below one of roots with no link followed (a swapped-in link is refused
    // there and never read), and its stamp (device, inode, modification
    // time, size) taken from that descriptor: it is read from the same
    // descriptor when it was never read, its stamp differs from the one
    // read, or it had been modified just before it was read (an edit in the
    // same tick of the file system's clock would keep the stamp). A missing
    // or refused file reads as empty (refused set) until a file is there.
    std::shared_ptr<const ini::IniContents> get(const std::string& path, const std::vector<std::string>& roots);

    // Values made from contents get gave for path (a style section as
    // settings), by a name their maker chooses, kept with that version for
    // the run and dropped when the file is read again. Null when contents
    // are not the version kept for path.
    using Made = std::map<std::string, std::shared_ptr<const void>>;
    Made* made_from(const std::string& path, const std::shared_ptr<const ini::IniContents>& contents);

    // Times a file was read from disk (for tests and measurements).
    int reads() const { return reads_; }

    // What was made from another style file (an overlay's lines), by a key
    // naming the file and what was made; kept with the stamp of the file it
    // was read from, which the caller takes from the descriptor it opened
    // through the confined open. Null when nothing is kept for that version.
    std::shared_ptr<const void> made_from_file(const std::string& key, const ini::FileStamp& stamp);
    // Keeps what was made from the file with that stamp, read at read_at_ns
    // (system clock): not kept when the file was modified just before it was
    // read (an edit in the same tick would keep the stamp), nor when it is
    // larger than a quarter of the bound. At most kMaxFiles values and
    // kMaxFileBytes bytes (as the caller counts them) are kept: the one used
    // longest ago goes first.
    void keep_made_from_file(const std::string& key, const ini::FileStamp& stamp, long long read_at_ns,
                             std::shared_ptr<const void> made, std::size_t bytes);
    static constexpr std::size_t kMaxFiles = 32;
    // The system clock in nanoseconds, as file stamps give times.
    static long long now_ns();
    static constexpr std::size_t kMaxFileBytes = 4 << 20;
    // Values kept by keep_made_from_file now, and their bytes (for tests).
    std::size_t files_kept() const { return others_.size(); }
    std::size_t file_bytes_kept() const { return other_bytes_; }

private:
    struct Kept {
        std::shared_ptr<const ini::IniContents> contents;
        bool settled = false;  // modified well before it was read: its stamp tells every later change
        Made made;             // from these contents
    };
    std::map<std::string, Kept> files_;
    int reads_ = 0;

    struct Other {
        ini::FileStamp stamp;
        std::shared_ptr<const void> made;
        std::size_t bytes = 0;
        std::uint64_t used = 0;  // the use count when last used
    };
    std::map<std::string, Other> others_;
    std::size_t other_bytes_ = 0;
    std::uint64_t uses_ = 0;
};

}  // namespace velarion
