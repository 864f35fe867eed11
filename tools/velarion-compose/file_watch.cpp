#include "file_watch.h"

#include <filesystem>
#include <optional>

namespace velarion::compose {

namespace fs = std::filesystem;

namespace {
// The modification time and size of a file; nullopt when it is not there.
std::optional<std::pair<long long, long long>> stamp(const fs::path& p) {
    std::error_code ec;
    const auto time = fs::last_write_time(p, ec);
    if (ec) return std::nullopt;
    const auto size = fs::file_size(p, ec);
    return std::make_pair(static_cast<long long>(time.time_since_epoch().count()),
                          ec ? -1LL : static_cast<long long>(size));
}
// One spelling per file, whether named or found in a folder.
std::string key(const fs::path& p) { return p.lexically_normal().string(); }
}  // namespace

void FileWatch::watch(std::vector<std::string> files, std::vector<std::string> folders) {
    files_ = std::move(files);
    folders_ = std::move(folders);
    last_ = snapshot();
}

void FileWatch::accept(const std::vector<std::string>& written) {
    // Only what is watched: a written file outside the watched folders (the
    // pictures' folder, an -o elsewhere) is in no snapshot, and keeping it
    // would make every later look differ from the last one.
    const Stamps now = snapshot();
    for (const auto& w : written) {
        const std::string k = key(fs::absolute(w));
        const auto found = now.find(k);
        if (found != now.end()) last_[k] = found->second;
        else last_.erase(k);
    }
}

FileWatch::Stamps FileWatch::snapshot() const {
    Stamps out;
    auto add = [&](const fs::path& p) {
        if (const auto s = stamp(p)) out[key(p)] = *s;
    };
    for (const auto& f : files_) add(f);
    for (const auto& d : folders_) {
        std::error_code ec;
        for (fs::directory_iterator it(d, ec), end; !ec && it != end; it.increment(ec))
            if (it->is_regular_file(ec)) add(it->path());
    }
    return out;
}

bool FileWatch::changed() {
    auto now = snapshot();
    if (now == last_) return false;
    last_ = std::move(now);
    return true;
}

}  // namespace velarion::compose
