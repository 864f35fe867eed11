#include "work_folder.h"

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace velarion::compose {

WorkFolder::WorkFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/velarion-compose-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (!::mkdtemp(name.data())) throw std::runtime_error("cannot make a work folder in " + pattern);
    root_ = name.data();
    path_ = root_ + "/tempozip/";
    std::filesystem::create_directory(path_);
}

WorkFolder::~WorkFolder() {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
}

}  // namespace velarion::compose
