// The spool scan's copying: a message's spool files copied into the work
// directory, each with its dated backup, and the size check of the first
// attachment against a file still being written.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "spool/spool_listing.h"
#include "spool/staged_copy.h"

namespace velarion {

struct Runtime;

namespace spool {

class SizeGuard;

// A message's header and body as read once from the spool, before its names
// in the work folder are published: the names are taken from these bytes,
// they are what its work copies hold, and what its processing reads. A file
// that is no plain file, or larger than a header or body can be, has no
// bytes here and is copied from the spool as any other file.
struct GroupText {
    struct File {
        SpoolListing::Found found;         // where it is and what ("" when none)
        std::optional<std::string> bytes;  // its contents, when read
    };
    File header;
    File body;
};
GroupText read_group_text(const SpoolListing& listing, const std::string& base);

// The message's spool files in the order of the suffixes h, b, 0 to 7 (the
// ten moved): full paths of those that exist now.
std::vector<std::string> group_files(const SpoolListing& listing, const std::string& base);

// A ".0" still changing when the size check's time was up: the message is
// left in the spool for a later tick.
struct StillChanging : std::runtime_error {
    explicit StillChanging(const std::string& path) : std::runtime_error(path), path(path) {}
    std::string path;
};

// Copies each of group_files into the work directory under its own name,
// with a dated backup (name + "_yymmddHHMMSS"). The ".0" is copied into
// `stage` first (or `staged` is its copy, made ahead of the message's turn)
// and checked two seconds after the copy by the file system's clock, waiting
// only for what is left of them: when the spool file changed since the copy
// began, or the copy's size differs from it, it is copied again and checked
// again, for at most the settings' size_check_limit (then it throws
// StillChanging). Only a copy that agrees goes into the work directory.
// The header and body come from `text` (read_group_text). Returns the spool
// paths copied. The spool files stay. A spool file that is
// no plain file (a link, which could lead anywhere, a hard link, a FIFO,
// device, socket or folder) is never opened: it gets the line " File di
// spool non ammesso, <kind>: <path>" and is added to `links` instead.
std::vector<std::string> copy_group(Runtime& rt, SizeGuard& guard, CopyStage& stage, StagedCopy staged,
                                    const SpoolListing& listing, const GroupText& text, const std::string& work,
                                    const std::string& base, int& step, std::vector<std::string>& links);

}  // namespace spool
}  // namespace velarion
