#include "startup/resubmit_command.h"

#include <cstdio>

#include "spool/resubmit.h"

namespace velarion {

int run_resubmit(const std::vector<std::string>& folders, bool force) {
    int status = 0;
    for (const auto& folder : folders) {
        for (const auto& r : spool::resubmit(folder, force)) {
            std::FILE* out = r.ok ? stdout : stderr;
            std::fprintf(out, "velarion: %s: %s\n", r.folder.c_str(), r.text.c_str());
            if (!r.ok) status = 1;
        }
    }
    return status;
}

}  // namespace velarion
