// INI files kept for the whole run (the style and barcode files): each is
// read again only when it changed on disk, so a burst of messages reads it once.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "platform/os/ini_file.h"

namespace velarion {

class IniCache {
public:
    // The file's contents as last read; read now when it was never read, its
    // stamp (device, inode, modification time, size) differs from the one
    // read, or it had been modified just before it was read (an edit in the
    // same tick of the file system's clock would keep the stamp). A missing
    // file reads as empty until it appears.
    std::shared_ptr<const ini::IniContents> get(const std::string& path);

    // Times a file was read from disk (for tests and measurements).
    int reads() const { return reads_; }

private:
    struct Kept {
        std::shared_ptr<const ini::IniContents> contents;
        bool settled = false;  // modified well before it was read: its stamp tells every later change
    };
    std::map<std::string, Kept> files_;
    int reads_ = 0;
};

}  // namespace velarion
