#include "common/ini_cache.h"

#include <chrono>

namespace velarion {

namespace {
// Longer than the coarsest modification-time step of the file systems an
// installation may sit on (2 s on FAT, 1 s on older ones, a clock tick on ext4).
constexpr long long kSettleNs = 2'000'000'000;

long long now_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}
}  // namespace

std::shared_ptr<const ini::IniContents> IniCache::get(const std::string& path) {
    // A stat per use costs no read.
    const auto stamp = ini::stamp_of(path);
    Kept& kept = files_[path];
    const auto& c = kept.contents;
    const bool same = c && (stamp ? c->read && kept.settled && *stamp == c->stamp : !c->read);
    if (!same) {
        const long long read_at = now_ns();
        kept.contents = std::make_shared<const ini::IniContents>(ini::read_all(path));
        kept.settled = kept.contents->read && read_at - kept.contents->stamp.mtime_ns > kSettleNs;
        ++reads_;
    }
    return kept.contents;
}

}  // namespace velarion
