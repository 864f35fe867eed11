#include "common/ini_cache.h"

namespace velarion {

std::shared_ptr<const ini::IniContents> IniCache::get(const std::string& path) {
    // A stat per use costs no read.
    const auto stamp = ini::stamp_of(path);
    auto& kept = files_[path];
    const bool same = kept && (stamp ? kept->read && *stamp == kept->stamp : !kept->read);
    if (!same) {
        kept = std::make_shared<const ini::IniContents>(ini::read_all(path));
        ++reads_;
    }
    return kept;
}

}  // namespace velarion
