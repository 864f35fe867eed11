// What kind of entry a path names, judged without following a link at its
// last component and without opening it (a FIFO opened for reading would
// wait for a writer).
#pragma once

#include <string>

namespace velarion::file_kind {

enum class Kind {
    missing,
    plain,        // a regular file with a single name
    hard_linked,  // a regular file that has other names too
    symlink,
    fifo,
    device,
    socket,
    folder,
};

Kind of(const std::string& path);

}  // namespace velarion::file_kind
