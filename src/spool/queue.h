// The queue folder "coda" below the spool folder: where a message's trigger
// stays while an agent works on it or while it waits for its next try. Each
// change of state is one rename within the spool's file system, which is
// atomic for every agent that shares the folder, on this machine or another
// (local disks, NFS, SMB): of two agents that rename the same trigger, one
// succeeds and the other finds it gone. The message's other spool files stay
// where the business software wrote them until its outcome is recorded, so a
// crash at any moment leaves everything needed to deliver it again.
//
//   coda/<trigger>@<agent>   taken by that agent, which is working on it
//   coda/<trigger>@rinvio    waiting for the next try named in its record
//   coda/<trigger>@concluso  delivered or parked; its spool files are being removed
//   coda/<trigger>@concluso.<agent>  delivered by that agent, which removes its
//                            spool files once one sync has put the entries of
//                            its batch on disk
//   coda/<trigger>@sospeso   kept back by the operator (velarion --hold) until released
//   coda/<trigger>.stato     its record (queue_record.h)
//   coda/agenti/<agent>      the liveness lock of each running agent
//   coda/riprova             touched by velarion --retry-now: every agent tries at once
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/os/file_lock.h"
#include "spool/queue_record.h"

namespace velarion::spool {

// Every path of the queue of one spool folder, for the agent and the queue command.
struct QueuePaths {
    explicit QueuePaths(const std::string& spool_dir) : spool(spool_dir), dir(spool_dir + "coda/") {}
    std::string spool;  // the spool folder, ending in "/"
    std::string dir;    // its queue folder
    std::string entry(const std::string& name, const std::string& owner) const { return dir + name + "@" + owner; }
    std::string record(const std::string& name) const { return dir + name + ".stato"; }
    std::string retry_flag() const { return dir + "riprova"; }
};

class SpoolQueue {
public:
    // Opens the queue of `spool` (ending in "/"), creating its folders, and
    // puts this agent's lock there. Throws NumberedError when it cannot.
    explicit SpoolQueue(const std::string& spool);
    ~SpoolQueue();  // the lock file goes: this agent holds nothing any more
    SpoolQueue(const SpoolQueue&) = delete;
    SpoolQueue& operator=(const SpoolQueue&) = delete;

    const std::string& spool() const { return spool_; }
    const std::string& agent() const { return agent_; }
    // This agent's own file on the spool's file system (its lock), which
    // tells the time there when touched.
    std::string stamp() const { return lock_path(agent_); }

    // Takes the trigger `name` of the spool folder for this agent; false when
    // another agent took it first.
    bool claim(const std::string& name);
    // Takes a trigger that waits for its next try; false when another agent took it first.
    bool claim_deferred(const std::string& name);
    // Takes the trigger of an agent that is gone; false when another agent took it first.
    bool adopt(const std::string& name, const std::string& gone_agent);
    // Where the trigger this agent holds lies.
    std::string claimed_path(const std::string& name) const;

    // Puts a trigger this agent holds back in the spool folder, to be taken again.
    void release(const std::string& name);
    // Lets a trigger this agent holds wait for the next try of its record.
    // False when the record could not be written (a full file system): the
    // trigger waits all the same, and the caller keeps the time in memory.
    bool defer(const std::string& name, const QueueRecord& record);
    // Records that the message is delivered or parked: from now on only its
    // spool files are to be removed, and nothing delivers it again. False
    // when the record could not be put on disk: the spool files then stay.
    bool conclude(const std::string& name);
    // The same for a message of a batch, without waiting for the disk: its
    // spool files stay until sync() has put the records of the whole batch
    // on disk. Until then the entry carries this agent's name, so that no
    // other agent removes them first.
    void conclude_in_batch(const std::string& name);
    // Puts the entries of the queue folder on disk; false when it could not.
    bool sync();
    // Takes a trigger concluded in the batch of an agent that is gone as
    // concluded by nobody; false when another agent took it first.
    bool adopt_concluded(const std::string& name, const std::string& gone_agent);
    // Removes a concluded trigger and its record; with mark_done the trigger
    // goes back to the spool folder as <trigger>.FATTO instead.
    void forget(const std::string& name, bool mark_done);

    // True for the owner of a concluded trigger ("concluso", "concluso.<agent>").
    static bool concluded(const std::string& owner);
    // The agent of a trigger concluded in a batch ("" for "concluso").
    static std::string concluding_agent(const std::string& owner);

    // True while the queue's folders and this agent's lock file are in place
    // (someone may remove them under a running agent).
    bool intact() const;

    QueueRecord record(const std::string& name) const;
    void write_record(const std::string& name, const QueueRecord& record);
    // The same without the sync to disk and without throwing: false when not written.
    bool note_record(const std::string& name, const QueueRecord& record);

    // The triggers in the queue with their state: an agent's name, "rinvio" or "concluso".
    struct Entry {
        std::string name;
        std::string owner;
    };
    std::vector<Entry> entries() const;
    // True when the agent no longer runs (its lock is free or gone).
    bool gone(const std::string& agent) const;
    // Removes the lock files of the agents that are gone.
    void bury_gone();
    // Removes the temporaries of records whose writer ended before renaming
    // them (".<trigger>.stato.<pid>.<hex>.part"), once they are older than
    // a minute by the file system's clock: a record is written in far less.
    void remove_stale_temporaries();

    // True once after velarion --retry-now touched the queue's flag (not at the first look).
    bool retry_requested();

    static constexpr const char* kDeferred = "rinvio";
    static constexpr const char* kConcluded = "concluso";
    static constexpr const char* kHeld = "sospeso";

private:
    bool take(const std::string& from, const std::string& name);
    std::string in_queue(const std::string& name, const std::string& owner) const;
    std::string record_path(const std::string& name) const { return dir_ + name + ".stato"; }
    std::string lock_path(const std::string& agent) const { return dir_ + "agenti/" + agent; }

    std::string spool_;
    std::string dir_;
    std::string agent_;
    std::optional<FileLock> lock_;
    long long retry_flag_seen_ = -1;  // the flag's modification time last seen (ns); -1 before the first look
};

}  // namespace velarion::spool
