// A small tmpfs mounted for one test (as root), to fill a file system on
// purpose; unmounted when the fixture ends. skip_reason() says why there is
// none (not root, no mount permission in a container).
#pragma once

#include <string>

#include "support/test_support.h"

namespace velarion::testing {

class SmallTmpfs {
public:
    explicit SmallTmpfs(std::size_t bytes);
    ~SmallTmpfs();
    SmallTmpfs(const SmallTmpfs&) = delete;
    SmallTmpfs& operator=(const SmallTmpfs&) = delete;

    const std::string& skip_reason() const { return skip_reason_; }
    // The mount point, with a trailing "/".
    std::string path() const { return dir_.path(); }
    // Fills the file system with a file "riempimento" until at most `left`
    // bytes remain free.
    void fill(std::size_t left = 0) const;
    // Removes that file.
    void free_space() const;
    std::size_t available() const;

private:
    TempDir dir_;
    std::string skip_reason_;
    bool mounted_ = false;
};

}  // namespace velarion::testing
