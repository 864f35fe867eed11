#include "spool/spool_listing.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "platform/os/text_encoding.h"
#include "spool/spool_files.h"

namespace fs = std::filesystem;

namespace velarion::spool {

SpoolListing::SpoolListing(const std::string& dir) : dir_(dir) {
    std::error_code ec;
    fs::directory_iterator it(dir, ec);
    if (ec) throw NumberedError(52, "Bad file name or number " + dir);
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) break;
        names_.push_back(it->path().filename().string());
    }
    if (ec) throw NumberedError(52, "Bad file name or number " + dir);
    std::sort(names_.begin(), names_.end());
    by_upper_.reserve(names_.size());
    for (const auto& n : names_) by_upper_.emplace(text::upper(n), n);
}

std::string SpoolListing::find(const std::string& name) const {
    if (present(dir_ + name)) return dir_ + name;
    auto it = by_upper_.find(text::upper(name));
    if (it == by_upper_.end() || !present(dir_ + it->second)) return "";
    return dir_ + it->second;
}

}  // namespace velarion::spool
