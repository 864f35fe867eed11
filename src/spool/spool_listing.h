// One listing of the spool directory per scan pass: the names in order and a
// case-insensitive index, so that finding a message's files costs the same
// whatever the number of other files in the spool.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "platform/os/file_kind.h"

namespace velarion::spool {

class SpoolListing {
public:
    // Lists the entries of `dir` (which ends with "/"), sorted by name: files
    // and, so that a message naming one is refused rather than left behind,
    // links, special files and folders.
    // A directory that cannot be read throws NumberedError 52.
    explicit SpoolListing(const std::string& dir);

    const std::vector<std::string>& names() const { return names_; }

    // Full path of the entry called `name` in the directory: the exact name
    // when it is there now, else a listed name equal to it without regard to
    // case; "" when neither. A name the listing does not hold in any case is
    // not looked for (a message's files are written before its trigger, so
    // they are listed with it), which saves a look at each absent suffix.
    std::string find(const std::string& name) const;

    // The same, with the kind of the entry found by the same look (missing
    // and "" when none).
    struct Found {
        std::string path;
        file_kind::Kind kind = file_kind::Kind::missing;
    };
    Found look(const std::string& name) const;

private:
    std::string dir_;
    std::vector<std::string> names_;
    std::unordered_map<std::string, std::string> by_upper_;
};

}  // namespace velarion::spool
