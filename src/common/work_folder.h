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

// The instance lock of the agent named `name` (its operator): held while that
// agent runs, so that a second agent of the operator on this work folder is
// refused whatever user or runtime folder it has.
inline std::string instance_lock(const std::string& work_dir, const std::string& name) {
    return work_dir + kAgentsFolder + ".istanza_" + name + ".lock";
}

}  // namespace velarion::work_folder
