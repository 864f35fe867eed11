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

std::string SpoolListing::find(const std::string& name) const { return look(name).path; }

SpoolListing::Found SpoolListing::look(const std::string& name) const {
    using file_kind::Kind;
    const auto it = by_upper_.find(text::upper(name));
    if (it == by_upper_.end()) return {};
    // The exact name first, when the listed spelling differs.
    if (it->second != name) {
        const Kind exact = file_kind::of(dir_ + name);
        if (exact != Kind::missing) return {dir_ + name, exact};
    }
    const Kind kind = file_kind::of(dir_ + it->second);
    if (kind == Kind::missing) return {};
    return {dir_ + it->second, kind};
}

}  // namespace velarion::spool
