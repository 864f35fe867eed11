#include "spool/queue_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "platform/os/error.h"

namespace velarion::spool {

namespace {
// More than any record holds: what lies beyond is not read.
constexpr std::size_t kMaxRecord = 16 * 1024;

PrivateFolder checked(const std::string& path, PrivateFolder::Opened opened) {
    if (opened.folder) return std::move(*opened.folder);
    throw UnsafeQueueFolder(queue_folder_refusal(path, opened));
}
}  // namespace

std::string queue_folder_refusal(const std::string& path, const PrivateFolder::Opened& opened) {
    using R = PrivateFolder::Refusal;
    std::string why;
    switch (opened.refusal) {
        case R::none: return "";
        case R::missing: why = "mancante"; break;
        case R::link: why = "e' un collegamento simbolico"; break;
        case R::not_folder: why = "non e' una cartella"; break;
        case R::foreign_owner:
            why = "appartiene all'utente " + std::to_string(opened.owner) + ", non a quello dell'agente (" +
                  std::to_string(::geteuid()) + ")";
            break;
        case R::open_to_others: {
            char mode[8];
            std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(opened.mode));
            why = std::string("scrivibile da altri utenti (permessi ") + mode + ")";
            break;
        }
        case R::unreadable: why = "non accessibile"; break;
    }
    return "Cartella di coda non sicura " + path + ": " + why + " - nessun messaggio elaborato, nulla rimosso";
}

std::optional<QueueFolder> QueueFolder::open(const std::string& spool, bool create) {
    safe_path::Fd spool_fd(::open(spool.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!spool_fd.valid()) throw NumberedError(52, "Bad file name or number " + spool);
    PrivateFolder::Opened opened = PrivateFolder::open(spool_fd.get(), "coda", create);
    if (opened.refusal == PrivateFolder::Refusal::missing && !create) return std::nullopt;
    QueueFolder q(spool, std::move(spool_fd), checked(spool + "coda/", std::move(opened)));
    if (create) q.agents(true);  // checked too, and made when missing
    return q;
}

std::optional<PrivateFolder> QueueFolder::agents(bool create) const {
    PrivateFolder::Opened opened = PrivateFolder::open(coda_.fd(), "agenti", create);
    if (opened.refusal == PrivateFolder::Refusal::missing && !create) return std::nullopt;
    return checked(path() + "agenti/", std::move(opened));
}

bool QueueFolder::intact() const {
    struct stat by_path {};
    return ::stat(spool_.c_str(), &by_path) == 0 && intact(by_path);
}

bool QueueFolder::intact(const struct stat& spool_by_path) const {
    return spool_by_path.st_dev == spool_dev_ && spool_by_path.st_ino == spool_ino_ && coda_.still_at(spool_fd(), "coda");
}

std::vector<QueueFolder::Entry> QueueFolder::entries() const {
    std::vector<Entry> out;
    for (const auto& file : coda_.plain_files()) {
        if (file.empty() || file[0] == '.' || file.ends_with(".stato")) continue;
        const auto at = file.rfind('@');
        if (at == std::string::npos || at == 0 || at + 1 == file.size()) continue;
        out.push_back({file.substr(0, at), file.substr(at + 1)});
    }
    return out;
}

QueueRecord QueueFolder::record(const std::string& trigger) const {
    // A record that cannot be read counts as none.
    try {
        return parse_record(coda_.read(record_name(trigger), kMaxRecord));
    } catch (const std::exception&) {
        return {};
    }
}

bool QueueFolder::write_record(const std::string& trigger, const QueueRecord& record, atomic_file::Sync sync) const {
    return coda_.write(record_name(trigger), format_record(record), sync);
}

bool QueueFolder::append_record(const std::string& trigger, const std::string& lines) const {
    const std::string name = record_name(trigger);
    // Relative to the queue folder's descriptor, never through a link, never
    // waiting on anything but a plain file.
    const safe_path::Fd fd(
        ::openat(coda_.fd(), name.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    return ::write(fd.get(), lines.data(), lines.size()) == static_cast<ssize_t>(lines.size());
}

QueueFolder::QueueFolder(std::string spool, safe_path::Fd spool_fd, PrivateFolder coda)
    : spool_(std::move(spool)), spool_fd_(std::move(spool_fd)), coda_(std::move(coda)) {
    // What the open spool folder is, so that intact() need not ask again.
    struct stat opened {};
    if (::fstat(spool_fd_.get(), &opened) == 0) {
        spool_dev_ = opened.st_dev;
        spool_ino_ = opened.st_ino;
    }
    const std::string through = "/proc/self/fd/" + std::to_string(coda_.fd()) + "/";
    if (::access(through.c_str(), F_OK) == 0) through_ = through;
}

std::string QueueFolder::reach(const std::string& name) const { return (through_.empty() ? path() : through_) + name; }

}  // namespace velarion::spool
