#include "platform/mail/vmime_file_system.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vmime/platforms/posix/posixHandler.hpp>
#include <vmime/vmime.hpp>

namespace velarion::mail::detail {

namespace {

namespace vu = vmime::utility;

// The folders files were renamed into since they were last synced.
std::mutex g_pending_mutex;
std::set<std::string>& pending_folders() {
    static std::set<std::string> folders;
    return folders;
}

void note_renamed_into(const std::string& file) {
    const auto slash = file.rfind('/');
    if (slash == std::string::npos) return;
    const std::lock_guard<std::mutex> lock(g_pending_mutex);
    pending_folders().insert(file.substr(0, slash == 0 ? 1 : slash));
}

// The library's words for a file error (ENOSPC as it says it).
[[noreturn]] void file_error(const vu::file::path& path, int err) {
    const std::string words = err == ENOSPC ? "ENOSPC: no space left on device." : std::string(std::strerror(err)) + ".";
    throw vmime::exceptions::filesystem_exception(words, path);
}

// A descriptor closed when its owner goes.
struct OwnedFd {
    explicit OwnedFd(int f = -1) : fd(f) {}
    OwnedFd(const OwnedFd&) = delete;
    OwnedFd& operator=(const OwnedFd&) = delete;
    ~OwnedFd() {
        if (fd >= 0) ::close(fd);
    }
    // The descriptor, handed over.
    int release() { return std::exchange(fd, -1); }
    int fd;
};

class FullWriteStream final : public vu::outputStream {
public:
    // Writes through `fd` when it is open (the file just made), else opens the file.
    FullWriteStream(vu::file::path path, const std::string& native, int fd) : path_(std::move(path)), fd_(fd) {
        if (fd_ < 0) fd_ = ::open(native.c_str(), O_WRONLY | O_CLOEXEC, 0660);
        if (fd_ < 0) file_error(path_, errno);
    }
    ~FullWriteStream() override { ::close(fd_); }

    void flush() override {
        if (::fsync(fd_) != 0) file_error(path_, errno);
    }

protected:
    void writeImpl(const vmime::byte_t* const data, const size_t count) override {
        std::size_t done = 0;
        while (done < count) {
            const ssize_t n = ::write(fd_, data + done, count - done);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) file_error(path_, errno);
            if (n == 0) file_error(path_, EIO);
            done += static_cast<std::size_t>(n);
        }
    }

private:
    vu::file::path path_;
    int fd_ = -1;
};

class FullWriter final : public vu::fileWriter {
public:
    FullWriter(vu::file::path path, std::string native, std::shared_ptr<OwnedFd> made)
        : path_(std::move(path)), native_(std::move(native)), made_(std::move(made)) {}
    vmime::shared_ptr<vu::outputStream> getOutputStream() override {
        return vmime::make_shared<FullWriteStream>(path_, native_, made_ ? made_->release() : -1);
    }

private:
    vu::file::path path_;
    std::string native_;
    std::shared_ptr<OwnedFd> made_;
};

// The library's file, written through FullWriter.
class File final : public vu::file {
public:
    File(vmime::shared_ptr<vu::file> inner, const vu::fileSystemFactory& system)
        : inner_(std::move(inner)), system_(system) {}

    // Made empty without the library's sync of the empty file: the sync that
    // counts is the one of its data (FullWriteStream::flush), and the folder
    // it is renamed into is synced with the batch (sync_stored_drafts). The
    // library writes it next through getFileWriter: its descriptor is kept
    // for that, so the file is not opened twice.
    void createFile() override {
        const int fd = ::open(native().c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0660);
        if (fd < 0) file_error(getFullPath(), errno);
        made_ = std::make_shared<OwnedFd>(fd);
        made_file_ = true;
    }
    void createDirectory(const bool all) override { inner_->createDirectory(all); }
    bool isFile() const override { return inner_->isFile(); }
    bool isDirectory() const override { return inner_->isDirectory(); }
    bool canRead() const override { return inner_->canRead(); }
    bool canWrite() const override { return inner_->canWrite(); }
    length_type getLength() override { return inner_->getLength(); }
    const path& getFullPath() const override { return inner_->getFullPath(); }
    bool exists() const override { return inner_->exists(); }
    vmime::shared_ptr<vu::file> getParent() const override {
        auto parent = inner_->getParent();
        return parent ? vmime::make_shared<File>(parent, system_) : parent;
    }
    // A file is renamed where no file of that name is (the library makes and
    // syncs an empty file there first, then renames over it); the folder it
    // lands in is noted for the batch's sync. A folder, or a file system
    // without RENAME_NOREPLACE, goes the library's way.
    void rename(const path& to) override {
        const std::string target = system_.pathToString(to);
        if (made_file_ || !inner_->isDirectory()) {
            if (::renameat2(AT_FDCWD, native().c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
                inner_ = system_.create(to);
                note_renamed_into(target);
                return;
            }
            if (errno != EINVAL && errno != ENOSYS) file_error(getFullPath(), errno);
        }
        inner_->rename(to);
        if (!inner_->isDirectory()) note_renamed_into(target);
    }
    void remove() override { inner_->remove(); }
    vmime::shared_ptr<vu::fileWriter> getFileWriter() override {
        return vmime::make_shared<FullWriter>(getFullPath(), system_.pathToString(getFullPath()), std::move(made_));
    }
    vmime::shared_ptr<vu::fileReader> getFileReader() override { return inner_->getFileReader(); }
    vmime::shared_ptr<vu::fileIterator> getFiles() const override { return inner_->getFiles(); }

private:
    std::string native() const { return system_.pathToString(getFullPath()); }

    vmime::shared_ptr<vu::file> inner_;
    const vu::fileSystemFactory& system_;
    std::shared_ptr<OwnedFd> made_;  // the file this object made, until its writer takes it
    bool made_file_ = false;         // this object made its file: it is no folder
};

class FileSystem final : public vu::fileSystemFactory {
public:
    explicit FileSystem(vmime::shared_ptr<vu::fileSystemFactory> inner) : inner_(std::move(inner)) {}

    vmime::shared_ptr<vu::file> create(const vu::file::path& path) const override {
        return vmime::make_shared<File>(inner_->create(path), *inner_);
    }
    const vu::file::path stringToPath(const vmime::string& str) const override { return inner_->stringToPath(str); }
    const vmime::string pathToString(const vu::file::path& path) const override { return inner_->pathToString(path); }
    bool isValidPathComponent(const vu::file::path::component& comp) const override {
        return inner_->isValidPathComponent(comp);
    }
    bool isValidPath(const vu::file::path& path) const override { return inner_->isValidPath(path); }

private:
    vmime::shared_ptr<vu::fileSystemFactory> inner_;
};

class Handler final : public vmime::platforms::posix::posixHandler {
public:
    // Asked for every maildir file name (and each greeting): the library's
    // own asks the resolver each time. Looked up once a run.
    const vmime::string getHostName() const override {
        std::call_once(host_once_, [this] { host_ = posixHandler::getHostName(); });
        return host_;
    }

    vmime::shared_ptr<vu::fileSystemFactory> getFileSystemFactory() override {
        if (!files_) files_ = vmime::make_shared<FileSystem>(posixHandler::getFileSystemFactory());
        return files_;
    }

private:
    vmime::shared_ptr<vu::fileSystemFactory> files_;
    mutable std::once_flag host_once_;
    mutable vmime::string host_;
};

}  // namespace

void install_platform_handler() { vmime::platform::setHandler<Handler>(); }

std::string sync_renamed_folders() {
    std::set<std::string> folders;
    {
        const std::lock_guard<std::mutex> lock(g_pending_mutex);
        folders.swap(pending_folders());
    }
    std::set<std::string> failed;
    for (const auto& folder : folders) {
        const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0 && (errno == ENOENT || errno == ENOTDIR)) continue;  // gone with its drafts: nothing to keep
        const bool ok = fd >= 0 && ::fsync(fd) == 0;
        if (fd >= 0) ::close(fd);
        if (!ok) failed.insert(folder);
    }
    if (failed.empty()) return "";
    const std::string first = *failed.begin();
    // Tried again with the next batch.
    const std::lock_guard<std::mutex> lock(g_pending_mutex);
    pending_folders().merge(failed);
    return first;
}

}  // namespace velarion::mail::detail
