// The work folder of one composition: a fresh "tempozip" folder below the
// temporary folder ($TMPDIR, else /tmp), removed with its contents at the end.
#pragma once

#include <string>

namespace velarion::compose {

class WorkFolder {
public:
    WorkFolder();  // throws std::runtime_error when it cannot be made
    ~WorkFolder();
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;

    // ".../velarion-compose-XXXXXX/tempozip/", with the trailing "/".
    const std::string& path() const { return path_; }

private:
    std::string root_, path_;
};

}  // namespace velarion::compose
