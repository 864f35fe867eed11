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
//
// The queue folder is reached only through its descriptor (queue_folder.h).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/os/file_lock.h"
#include "platform/os/private_folder.h"
#include "spool/folder_watch.h"
#include "spool/queue_folder.h"
#include "spool/queue_record.h"

namespace velarion::spool {

// The flag velarion --retry-now touches in the queue folder.
constexpr const char* kRetryFlag = "riprova";

class SpoolQueue {
public:
    // Opens the queue of `spool` (ending in "/"), creating its folders, and
    // puts this agent's lock there. Throws UnsafeQueueFolder when the queue
    // folder may not be used, NumberedError when it cannot be opened.
    explicit SpoolQueue(const std::string& spool);
    ~SpoolQueue();  // the lock file goes: this agent holds nothing any more
    SpoolQueue(const SpoolQueue&) = delete;
    SpoolQueue& operator=(const SpoolQueue&) = delete;

    const std::string& spool() const { return spool_; }
    const std::string& agent() const { return agent_; }
    // This agent's own file on the spool's file system (its lock), which
    // tells the time there when touched.
    std::string stamp() const { return folder_.path() + "agenti/" + agent_; }

    // Takes the trigger `name` of the spool folder for this agent; false when
    // another agent took it first.
    bool claim(const std::string& name);
    // Takes a trigger that waits for its next try; false when another agent took it first.
    bool claim_deferred(const std::string& name);
    // Takes the trigger of an agent that is gone; false when another agent took it first.
    bool adopt(const std::string& name, const std::string& gone_agent);
    // Where the trigger this agent holds lies.
    std::string claimed_path(const std::string& name) const;
    // The same as a path through the queue folder's open descriptor
    // (/proc/self/fd/<n>/...), for reading it: no folder swapped in by name
    // since can be what is read. claimed_path where /proc is not mounted.
    std::string claimed_file(const std::string& name) const;
    // True when the entry of `name` under this agent would be longer than a
    // file name may be: such a trigger cannot be claimed.
    bool name_too_long(const std::string& name) const;
    // A trigger too long to be claimed is taken instead into this agent's
    // hidden folder "coda/.lungo.<agent>/" under its own name, only to be
    // parked; false when another agent took it first.
    bool claim_long(const std::string& name);
    std::string long_claim_path(const std::string& name) const;  // through the descriptor, as claimed_file
    // Removes it once parked, or puts it back in the spool folder.
    void drop_long(const std::string& name);
    void return_long(const std::string& name);
    // Puts the long triggers of agents that are gone back in the spool folder.
    void return_gone_long_claims();
    // The open queue folder.
    const QueueFolder& folder() const { return folder_; }

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
    // goes back to the spool folder as <trigger>.FATTO instead. The record
    // is kept as a spare for a later message's record
    // (".<agent>.<n>.stato.part", at most kSpares of them): making a file is
    // most of what a record costs. Spares go with the agent; those a kill
    // leaves go as the other temporaries of records do.
    void forget(const std::string& name, bool mark_done);
    static constexpr std::size_t kSpares = 64;

    // True for the owner of a concluded trigger ("concluso", "concluso.<agent>").
    static bool concluded(const std::string& owner);
    // The agent of a trigger concluded in a batch ("" for "concluso").
    static std::string concluding_agent(const std::string& owner);

    // True while the queue's folders and this agent's lock file are in place
    // (someone may remove them under a running agent).
    bool intact() const;
    // The same with the spool folder's status by its path, just read.
    bool intact(const struct stat& spool_by_path) const;

    QueueRecord record(const std::string& name) const;
    void write_record(const std::string& name, const QueueRecord& record);
    // The same without the sync to disk and without throwing: false when not written.
    bool note_record(const std::string& name, const QueueRecord& record);
    // Appends lines to the record (queue_folder.h), without reading it first.
    // A message without a record gets one of this agent's spare records
    // (see forget) filled with them and renamed into place, when it has one:
    // no new file is made.
    bool append_record(const std::string& name, const std::string& lines);

    // The triggers in the queue with their state: an agent's name, "rinvio" or "concluso".
    struct Entry {
        std::string name;
        std::string owner;
    };
    std::vector<Entry> entries() const;
    // The same for a scan at each tick: the queue folder is listed again only
    // when it may have changed since its last listing (folder_watch.h), at
    // the latest kRelistMs after it; now_ms by the monotonic clock.
    std::vector<Entry> entries_now(long long now_ms);
    static constexpr long long kRelistMs = 5000;
    // True when the agent no longer runs (its lock is free or gone).
    bool gone(const std::string& agent) const;
    // Removes the lock files of the agents that are gone.
    void bury_gone();
    // Removes the temporaries of records whose writer ended before renaming
    // them (".<trigger>.stato.<pid>.<hex>.part"), and the spare records of
    // agents (".<agent>.<n>.stato.part"), once they are older than a minute
    // by the file system's clock: a record is written in far less, and a
    // spare taken meanwhile is no loss to its agent (it makes a record anew).
    void remove_stale_temporaries();

    // Says on this agent's lock file what it holds back (agent_note.h); false when not written.
    bool note(const std::string& text) { return lock_ && lock_->note(text); }

    // True once after velarion --retry-now touched the queue's flag (not at
    // the first look). The flag is written anew by a rename into the queue
    // folder, so it is looked at only when that folder may have changed
    // (folder_watch.h); now_ms by the monotonic clock.
    bool retry_requested(long long now_ms);

    static constexpr const char* kDeferred = "rinvio";
    static constexpr const char* kConcluded = "concluso";
    static constexpr const char* kHeld = "sospeso";

private:
    // Renames `from` (in the spool folder when from_spool, else in the
    // queue) to this agent's entry; false when another agent took it first.
    bool take(bool from_spool, const std::string& from, const std::string& name);
    void rename_or_throw(const std::string& from, const std::string& to) const;

    std::string spool_;
    QueueFolder folder_;
    PrivateFolder agents_;
    std::string agent_;
    std::optional<FileLock> lock_;
    // Fills a spare record with `lines` and renames it to the record of
    // `name` when that has none; false when it did not.
    bool place_spare(const std::string& name, const std::string& lines);

    std::vector<std::string> spares_;  // this agent's spare records, by name
    std::string appended_;             // the trigger whose record was last appended to (it has one)
    unsigned long long spares_made_ = 0;
    bool spares_refused_ = false;  // the file system cannot rename without replacing
    FolderWatch watch_{kRelistMs};     // the queue folder's status at its last listing for entries_now
    FolderWatch flag_watch_{kRelistMs};  // the same at the last look at the retry flag
    std::vector<Entry> listed_;        // what that listing found
    std::optional<long long> retry_flag_seen_;  // the flag's modification time last seen (ns); none before the first look
};

}  // namespace velarion::spool
