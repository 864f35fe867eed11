#include "spool/staged_copy.h"

#include <filesystem>
#include <system_error>
#include <utility>

#include "spool/spool_files.h"
#include "spool/work_copy.h"

namespace fs = std::filesystem;

namespace velarion::spool {

StagedCopy::~StagedCopy() { drop(); }

StagedCopy::StagedCopy(StagedCopy&& other) noexcept
    : path_(std::exchange(other.path_, {})),
      from_(std::move(other.from_)),
      source_(other.source_),
      made_(other.made_) {}

StagedCopy& StagedCopy::operator=(StagedCopy&& other) noexcept {
    if (this != &other) {
        drop();
        path_ = std::exchange(other.path_, {});
        from_ = std::move(other.from_);
        source_ = other.source_;
        made_ = other.made_;
    }
    return *this;
}

void StagedCopy::drop() {
    if (path_.empty()) return;
    std::error_code ec;
    fs::remove(path_, ec);
    path_.clear();
}

long long StagedCopy::size() const {
    std::error_code ec;
    const std::uintmax_t n = fs::file_size(path_, ec);
    return ec ? -1 : static_cast<long long>(n);
}

void StagedCopy::place(const std::string& target) {
    std::error_code ec;
    fs::rename(path_, target, ec);
    if (ec) throw fs::filesystem_error("rename", path_, target, ec);
    path_.clear();
}

StagedCopy CopyStage::copy(SizeGuard& guard, const std::string& spool_path, const std::string& file) {
    // Its own folder only: a work folder whose agents' folder is gone is for the scan to notice.
    std::error_code ec;
    fs::create_directory(folder_, ec);
    StagedCopy c;
    c.source_ = guard.seen(spool_path);
    // Numbered: the same message may have a copy here still being dropped.
    const std::string path = folder_ + std::to_string(++made_) + "." + file;
    // Made again from the spool file after a crash, so not synced; under its
    // name only once whole (the control counts its two seconds from then).
    const SpoolSource source = open_source(spool_path, path);
    const std::string name = path.substr(folder_.size());
    WorkCopies copies(folder_);
    copies.copy("." + name + ".part", source.fd, spool_path);
    copies.rename("." + name + ".part", name);
    c.path_ = path;
    c.from_ = spool_path;
    c.made_ = guard.moment();
    return c;
}

}  // namespace velarion::spool
