#include "common/ini_cache.h"

#include <chrono>

#include "platform/os/safe_path.h"

namespace velarion {

namespace {
// Longer than the coarsest modification-time step of the file systems an
// installation may sit on (2 s on FAT, 1 s on older ones, a clock tick on ext4).
constexpr long long kSettleNs = 2'000'000'000;

}  // namespace

long long IniCache::now_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::shared_ptr<const ini::IniContents> IniCache::get(const std::string& path, const std::vector<std::string>& roots) {
    // An open and an fstat per use cost no read; the stamp compared is the
    // one of the file that would be read, never of what a path names later.
    const safe_path::Opened opened = safe_path::open_below(path, roots);
    const bool refused = opened.status == safe_path::Status::refused;
    const auto stamp = ini::stamp_of(opened.fd);
    Kept& kept = files_[path];
    const auto& c = kept.contents;
    const bool same =
        c && (stamp ? c->read && kept.settled && *stamp == c->stamp : !c->read && c->refused == refused);
    if (!same) {
        const long long read_at = now_ns();
        ini::IniContents fresh = stamp ? ini::read_all(opened.fd) : ini::IniContents{};
        fresh.refused = !stamp && refused;
        kept.settled = fresh.read && read_at - fresh.stamp.mtime_ns > kSettleNs;
        kept.contents = std::make_shared<const ini::IniContents>(std::move(fresh));
        kept.made.clear();
        ++reads_;
    }
    return kept.contents;
}

std::shared_ptr<const void> IniCache::made_from_file(const std::string& key, const ini::FileStamp& stamp) {
    auto it = others_.find(key);
    if (it == others_.end()) return nullptr;
    if (!(it->second.stamp == stamp)) {
        // Another version: what was made from the old one goes at once.
        other_bytes_ -= it->second.bytes;
        others_.erase(it);
        return nullptr;
    }
    it->second.used = ++uses_;
    return it->second.made;
}

void IniCache::keep_made_from_file(const std::string& key, const ini::FileStamp& stamp, long long read_at_ns,
                                   std::shared_ptr<const void> made, std::size_t bytes) {
    if (auto it = others_.find(key); it != others_.end()) {
        other_bytes_ -= it->second.bytes;
        others_.erase(it);
    }
    if (!made || read_at_ns - stamp.mtime_ns <= kSettleNs || bytes > kMaxFileBytes / 4) return;
    // Room made by dropping what was used longest ago (a few dozen entries: a scan is enough).
    while (!others_.empty() && (others_.size() >= kMaxFiles || other_bytes_ + bytes > kMaxFileBytes)) {
        auto oldest = others_.begin();
        for (auto it = others_.begin(); it != others_.end(); ++it)
            if (it->second.used < oldest->second.used) oldest = it;
        other_bytes_ -= oldest->second.bytes;
        others_.erase(oldest);
    }
    others_.emplace(key, Other{stamp, std::move(made), bytes, ++uses_});
    other_bytes_ += bytes;
}

IniCache::Made* IniCache::made_from(const std::string& path, const std::shared_ptr<const ini::IniContents>& contents) {
    auto it = files_.find(path);
    return it != files_.end() && contents && it->second.contents == contents ? &it->second.made : nullptr;
}

}  // namespace velarion
