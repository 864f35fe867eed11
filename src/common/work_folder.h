// Names inside the work folder (tempozip_dir) that agents sharing it rely on.
#pragma once

#include <string>

namespace velarion::work_folder {

// The folder of the agents' claims and locks ("in_lavorazione/"); the
// clean-up of the work folder leaves folders alone.
inline constexpr const char* kAgentsFolder = "in_lavorazione/";

// The lock that agents sharing the work folder take in turn while they
// make files of fixed names there (MERGE_n.PDF, cripato.pdf).
inline std::string intermediates_lock(const std::string& work_dir) {
    return work_dir + kAgentsFolder + ".intermedi.lock";
}

}  // namespace velarion::work_folder
