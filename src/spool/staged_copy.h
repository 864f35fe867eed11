// A print file's copy made before its control: where it lies (a folder of
// this agent's own in the work folder, which no other agent reads or clears),
// what the spool file was when it was made, and when. It goes into the work
// folder under its own name only once the control agrees; a copy dropped
// (another agent took the message, the scan stopped, a new copy was made)
// is removed, and one left by a killed agent goes with its folder.
#pragma once

#include <cstdint>
#include <string>

#include "spool/size_guard.h"

namespace velarion::spool {

class StagedCopy {
public:
    StagedCopy() = default;
    ~StagedCopy();  // removes the copy unless placed
    StagedCopy(StagedCopy&& other) noexcept;
    StagedCopy& operator=(StagedCopy&& other) noexcept;
    StagedCopy(const StagedCopy&) = delete;
    StagedCopy& operator=(const StagedCopy&) = delete;

    explicit operator bool() const { return !path_.empty(); }
    const std::string& path() const { return path_; }
    // The spool file it was copied from.
    const std::string& from() const { return from_; }
    // The spool file as it was when the copy began.
    const SizeGuard::Look& source() const { return source_; }
    // When the copy was whole.
    const SizeGuard::Moment& made() const { return made_; }
    // The size of the copy now (-1: gone).
    long long size() const;

    // Renames the copy to `target` (in the same work folder), replacing it.
    // Throws std::filesystem::filesystem_error when it cannot.
    void place(const std::string& target);

private:
    friend class CopyStage;
    void drop();

    std::string path_;
    std::string from_;
    SizeGuard::Look source_;
    SizeGuard::Moment made_;
};

// Where the copies are made: `folder` (ending in "/"), created when first used.
class CopyStage {
public:
    explicit CopyStage(std::string folder) : folder_(std::move(folder)) {}

    // Copies the spool file `spool_path` (named `file` in the spool) into the
    // folder. Throws std::filesystem::filesystem_error when it cannot.
    StagedCopy copy(SizeGuard& guard, const std::string& spool_path, const std::string& file);

private:
    std::string folder_;
    unsigned long long made_ = 0;
};

}  // namespace velarion::spool
