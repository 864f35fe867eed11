// The spool scan's copying: a message's spool files copied into the work
// directory, each with its dated backup, and the size check of the first
// attachment against a file still being written.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace velarion {

struct Runtime;

namespace spool {

class SizeGuard;
class SpoolListing;

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
// with a dated backup (name + "_yymmddHHMMSS"); for ".0" the copy is
// repeated until the spool file has been unchanged for two seconds by the
// guard's clock (waiting only for what is left of them) and the work copy
// agrees with it, for at most the settings' size_check_limit (then it throws
// StillChanging). Returns the spool paths copied. The spool files stay. A spool
// file that is no plain file (a link, which could lead anywhere, a hard link,
// a FIFO, device, socket or folder) is never opened: it gets the line " File
// di spool non ammesso, <kind>: <path>" and is added to `links` instead.
std::vector<std::string> copy_group(Runtime& rt, SizeGuard& guard, const SpoolListing& listing,
                                    const std::string& work, const std::string& base, int& step,
                                    std::vector<std::string>& links);

}  // namespace spool
}  // namespace velarion
