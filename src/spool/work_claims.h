// What each agent's message uses in the work folder, where agents that share
// the folder (two agents of one configuration, "plus:y") can see it: the
// folder "in_lavorazione" holds a liveness lock and a list of names per
// agent, so that one agent's clean-up never removes the files of a message
// another live agent is working on, and each agent's folder of print-file
// copies not yet checked ("<agent>.copie/"), which only it uses.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/os/file_lock.h"
#include "platform/os/safe_path.h"

namespace velarion::spool {

class WorkClaims {
public:
    // Puts this agent's lock in `work` (ending in "/") + "in_lavorazione/".
    // Throws NumberedError when it cannot.
    explicit WorkClaims(const std::string& work);
    ~WorkClaims();  // the lock and the list go
    WorkClaims(const WorkClaims&) = delete;
    WorkClaims& operator=(const WorkClaims&) = delete;

    const std::string& work() const { return work_; }
    // True while "in_lavorazione" and this agent's lock are in place.
    bool intact() const;
    // True when the agent's lock in the folder is held (the agent runs).
    bool live(const std::string& agent) const;

    // The names this agent's message uses from now on: exact file names, or
    // beginnings of names ending in "*". Written over the list in place
    // (kept open for the agent's life): a reader sees the new names, or
    // for an instant the new names followed by a tail of the old ones,
    // never fewer than the new ones once this returns.
    void publish(const std::vector<std::string>& names);

    // What the messages of other live agents use; the lists and copies of
    // agents that are gone are removed on the way.
    std::vector<std::string> others_in_use() const;

    // This agent's folder of print-file copies not yet checked (ending in
    // "/"; made when first used, removed with the agent's lock).
    std::string copies() const { return dir_ + agent_ + kCopies; }
    static constexpr const char* kCopies = ".copie/";

private:
    std::string dir_;
    std::string work_;
    std::string agent_;
    std::string lock_path_;  // this agent's lock, looked at every tick
    std::optional<FileLock> lock_;
    safe_path::Fd list_;     // this agent's list, opened at the first publish
    std::size_t listed_ = 0;  // the length of what it holds
};

// True when a name of the work folder is one of the names or begins with one
// of the beginnings ("AB.12.*"), without regard to case; the hidden
// temporary of a file being written counts as that file.
bool in_use(const std::vector<std::string>& names, const std::string& file_name);

}  // namespace velarion::spool
