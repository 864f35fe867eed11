#include "spool/work_cleanup.h"

#include <sys/stat.h>

#include <charconv>
#include <filesystem>
#include <system_error>

#include "common/runtime.h"
#include "platform/os/text_encoding.h"
#include "spool/run_state.h"
#include "spool/work_claims.h"

namespace fs = std::filesystem;

namespace velarion::spool {

namespace {
int day_number(const DateTime& t) { return t.year * 10000 + t.month * 100 + t.day; }

int number(const std::string& s) {
    int n = -1;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), n);
    return ec == std::errc() && end == s.data() + s.size() ? n : -1;
}

// The dated folders of copies that could not be made (non_copiati/<yyyy>/<mmdd>)
// older than the retention; a year folder left empty goes too.
void remove_old_copies(Runtime& rt, const std::string& work, int retention_days) {
    const std::string root = work + "non_copiati/";
    const long long oldest = to_seconds(rt.clock.now()) / 86400 - retention_days;
    std::error_code ec;
    for (fs::directory_iterator y(root, ec), yend; !ec && y != yend; y.increment(ec)) {
        const int year = number(y->path().filename().string());
        if (year < 1900 || !y->is_directory()) continue;
        std::vector<fs::path> old;
        std::error_code dec;
        for (fs::directory_iterator d(y->path(), dec), dend; !dec && d != dend; d.increment(dec)) {
            const std::string mmdd = d->path().filename().string();
            const int v = mmdd.size() == 4 ? number(mmdd) : -1;
            if (v < 0 || !d->is_directory()) continue;
            const DateTime day = make_datetime(year, v / 100, v % 100);
            if (to_seconds(day) / 86400 < oldest) old.push_back(d->path());
        }
        for (const auto& p : old) {
            std::error_code rm;
            fs::remove_all(p, rm);
            rt.trace_line(" Rimosse le copie non riuscite di " + p.string());
        }
        std::error_code rm;
        if (fs::is_empty(y->path(), rm)) fs::remove(y->path(), rm);
    }
}
}  // namespace

bool clean_up_due(const RunState& run, const DateTime& now) {
    if (!run.work_dir_cleaned) return true;
    return run.cleaned_day != 0 && run.cleaned_day != day_number(now);
}

void mark_cleaned(RunState& run, const DateTime& now) {
    run.work_dir_cleaned = true;
    run.cleaned_day = day_number(now);
}

void clean_work_dir(Runtime& rt, const std::string& work,
                    const std::function<std::vector<std::string>()>& in_use_now, int retention_days) {
    rt.trace_line(" Pulizia della directory d'appoggio " + work);
    struct Listed {
        fs::path path;
        ino_t inode;
    };
    std::vector<Listed> listed;
    std::error_code ec;
    for (fs::directory_iterator it(work, ec), end; !ec && it != end; it.increment(ec)) {
        // Symbolic links go too, whatever they point to (a folder, or
        // "note.txt" itself): removing a link never touches its target, and
        // no later write into the work directory can follow one.
        std::error_code type_ec;
        const fs::file_status st = it->symlink_status(type_ec);
        if (fs::is_directory(st)) continue;
        const std::string name = it->path().filename().string();
        if (fs::is_regular_file(st) && text::lower(name) == "note.txt") continue;
        struct stat sb {};
        if (::lstat(it->path().c_str(), &sb) != 0) continue;
        listed.push_back({it->path(), sb.st_ino});
    }
    // Another agent sharing the folder may claim a message at any moment:
    // it publishes the message's names, then copies its files. Each name is
    // checked against the lists as they are right before it goes, and only
    // the very file listed goes (a name made again since is a new copy).
    std::size_t removed = 0;
    for (const auto& l : listed) {
        if (in_use(in_use_now(), l.path.filename().string())) continue;
        struct stat sb {};
        if (::lstat(l.path.c_str(), &sb) != 0 || sb.st_ino != l.inode) continue;
        std::error_code rm;
        if (fs::remove(l.path, rm)) ++removed;
    }
    rt.trace_line(" Pulizia terminata, file cancellati " + std::to_string(removed));
    remove_old_copies(rt, work, retention_days);
}

}  // namespace velarion::spool
