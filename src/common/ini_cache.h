// INI files kept for the whole run (the style and barcode files): each is
// opened through the confined open at every use and read again only when the
// file opened is another version, so a burst of messages reads it once.
#pragma once

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

private:
    struct Kept {
        std::shared_ptr<const ini::IniContents> contents;
        bool settled = false;  // modified well before it was read: its stamp tells every later change
        Made made;             // from these contents
    };
    std::map<std::string, Kept> files_;
    int reads_ = 0;
};

}  // namespace velarion
