#include "platform/os/file_kind.h"

#include <sys/stat.h>

namespace velarion::file_kind {

Kind of(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return Kind::missing;
    if (S_ISREG(st.st_mode)) return st.st_nlink > 1 ? Kind::hard_linked : Kind::plain;
    if (S_ISLNK(st.st_mode)) return Kind::symlink;
    if (S_ISFIFO(st.st_mode)) return Kind::fifo;
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) return Kind::device;
    if (S_ISSOCK(st.st_mode)) return Kind::socket;
    return Kind::folder;
}

}  // namespace velarion::file_kind
