#include "common/run_log.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <vector>

#include "common/runtime.h"
#include "platform/os/kept_file.h"
#include "platform/os/paths.h"
#include "platform/os/safe_path.h"

namespace fs = std::filesystem;

namespace velarion {

std::string weekday_abbreviation(int weekday) {
    static const char* const names[] = {"dom", "lun", "mar", "mer", "gio", "ven", "sab"};
    return names[((weekday % 7) + 7) % 7];
}

std::string log_file_name(const DateTime& day) {
    char dd[8];
    std::snprintf(dd, sizeof dd, "%02d", day.day);
    return "velarion_log_" + weekday_abbreviation(day.weekday) + "_" + dd + ".txt";
}

namespace {

// Rotation: removes the files of today's weekday that are not today's file.
// The names are compared without case, as on the file system the logs came from.
void remove_same_weekday(const fs::path& folder, const std::string& weekday, const fs::path& today) {
    const std::string prefix = "velarion_log_" + weekday;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::directory_entry& entry = *it;
        const std::string name = entry.path().filename().string();
        if (name.size() < prefix.size() + 4) continue;
        if (strncasecmp(name.c_str(), prefix.c_str(), prefix.size()) != 0) continue;
        if (strcasecmp(name.c_str() + name.size() - 4, ".txt") != 0) continue;
        if (entry.path() == today) continue;
        std::error_code rm;
        fs::remove(entry.path(), rm);
    }
}

// The lines as written, in one buffer for one write. The list makes every
// line printable as it is added; any control character left is shown as "?"
// here too, so that no line can forge another.
std::string log_bytes(const std::vector<std::string>& lines) {
    std::size_t size = 0;
    for (const auto& line : lines) size += line.size() + 1;
    std::string bytes;
    bytes.reserve(size);
    for (const auto& line : lines) {
        const std::size_t from = bytes.size();
        bytes += line;
        for (std::size_t i = from; i < bytes.size(); ++i) {
            const auto u = static_cast<unsigned char>(bytes[i]);
            if ((u < 0x20 && u != '\t') || u == 0x7f) bytes[i] = '?';
        }
        bytes += '\n';
    }
    return bytes;
}

// The day's file and its folder for a work directory, made again only when
// the day or the work directory changes (not at each flush).
struct DayPaths {
    std::string work;
    int year = 0, month = 0, day = 0;
    std::string folder, name, file;

    void update(const std::string& w, const DateTime& today) {
        if (w == work && today.year == year && today.month == month && today.day == day) return;
        work = w;
        year = today.year;
        month = today.month;
        day = today.day;
        folder = work + "log";
        name = log_file_name(today);
        file = folder + "/" + name;
    }
};

// Today's log file, kept open from flush to flush: opening it below the work
// directory costs a walk of the path each time. Before each flush its
// descriptor says whether it is still there with one name: one removed,
// replaced by a rename, its folder removed, or given a second name, is opened
// anew the confined way, so no line is ever written into a file that is gone.
// That the path still names it (not renamed away, nor its folder) is looked
// at once a second: a walk of the path at every flush costs more than the
// line; a renamed file gets the lines of at most that second.
class KeptLog {
public:
    // True when a file is kept open for `path` (not looked at again).
    bool holds(const std::string& path) const { return fd_.valid() && path == path_; }

    // True when the kept file is still today's file at `path`.
    bool current(const std::string& path, long long now_ms) {
        if (!fd_.valid() || path != path_) return false;
        return check_.current(fd_.get(), path, now_ms);
    }

    // Opened below the work directory without following a link, and only
    // when a regular file (opened non-blocking, so a FIFO in its place
    // cannot hold the agent).
    bool open(const std::string& work, const std::string& folder, const std::string& name, const std::string& path,
              long long now_ms) {
        close();
        const safe_path::Fd dir = safe_path::open_folder_below(folder, {work}, true);
        if (!dir.valid()) return false;
        safe_path::Fd fd(::openat(dir.get(), name.c_str(),
                                  O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666));
        struct stat st {};
        if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
        fd_ = std::move(fd);
        path_ = path;
        check_.opened(st, now_ms);
        return true;
    }

    // All or nothing: a failed write cuts the file back to its former size
    // and lets it go, so the next flush opens it again and the lines are not
    // written twice.
    bool append(std::string_view bytes) {
        std::size_t written = 0;
        while (written < bytes.size()) {
            const ssize_t n = ::write(fd_.get(), bytes.data() + written, bytes.size() - written);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                struct stat st {};
                if (written > 0 && ::fstat(fd_.get(), &st) == 0 && st.st_size >= static_cast<off_t>(written))
                    (void)::ftruncate(fd_.get(), st.st_size - static_cast<off_t>(written));
                close();
                return false;
            }
            written += static_cast<std::size_t>(n);
        }
        return true;
    }

    void close() {
        fd_ = safe_path::Fd();
        path_.clear();
    }

private:
    safe_path::Fd fd_;
    std::string path_;
    KeptFileCheck check_{true};  // a log file with a second name is not written
};

KeptLog& kept_log() {
    static KeptLog log;
    return log;
}

}  // namespace

void flush_log(const Runtime& rt) {
    // Work directory; without one there is nowhere to write: keep the lines.
    if (!rt.cfg.has_work || rt.cfg.work_dir.empty()) return;
    const std::string& work = rt.cfg.work_dir;
    // A Windows drive ("C:") names no folder here: nothing is created below the
    // current folder, and the lines wait for a work directory that exists.
    if (paths::is_drive_path(work)) return;

    // Today's file name.
    const DateTime today = rt.clock.now();
    static DayPaths paths;
    paths.update(work, today);
    const std::string& file = paths.file;

    // The file kept open from the last flush, while it is still today's
    // file; with nothing to write it is left as it is.
    KeptLog& log = kept_log();
    const std::size_t count = rt.list.size();
    if (count == 0 && log.holds(file)) return;
    const long long now_ms = rt.clock.monotonic_ms();
    if (log.current(file, now_ms)) {
        if (count == 0 || log.append(log_bytes(rt.list.lines()))) rt.list.drop_front(count);
        return;
    }

    // The "log" folder (and the configured work directory when missing),
    // made below the work directory; a link in its place is never followed
    // (the lines then wait in the list).
    std::error_code ec;
    fs::create_directories(work, ec);
    if (!log.open(work, paths.folder, paths.name, file, now_ms)) return;

    // Rotation by weekday, once a day: at the first flush to each day's file.
    static std::string rotated_for;
    if (rotated_for != file) {
        remove_same_weekday(paths.folder, weekday_abbreviation(today.weekday), file);
        rotated_for = file;
    }

    // Append the list; clear it only when the lines were written.
    if (count == 0 || log.append(log_bytes(rt.list.lines()))) rt.list.drop_front(count);
}

}  // namespace velarion
