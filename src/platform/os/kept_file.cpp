#include "platform/os/kept_file.h"

namespace velarion {

void KeptFileCheck::opened(const struct stat& st, long long now_ms) {
    dev_ = st.st_dev;
    ino_ = st.st_ino;
    checked_ms_ = now_ms;
}

bool KeptFileCheck::current(int fd, const std::string& path, long long now_ms) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    if (single_name_ ? st.st_nlink != 1 : st.st_nlink == 0) return false;
    if (now_ms >= checked_ms_ && now_ms - checked_ms_ < period_ms_) return true;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || (single_name_ && st.st_nlink != 1) ||
        st.st_dev != dev_ || st.st_ino != ino_)
        return false;
    checked_ms_ = now_ms;
    return true;
}

}  // namespace velarion
