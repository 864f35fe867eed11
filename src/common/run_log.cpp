#include "common/run_log.h"

#include <strings.h>

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "common/runtime.h"
#include "platform/os/paths.h"
#include "platform/os/safe_path.h"
#include "platform/os/text_encoding.h"

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

// Appends the lines, each with its control characters shown as "?" so that
// no line can forge another. The file is opened below the work directory
// without following a link; a failed write leaves it as it was, so the next
// flush does not write the lines twice.
bool append_lines(const std::string& work, const std::string& file, const std::vector<std::string>& lines) {
    std::string bytes;
    for (const auto& line : lines) bytes += text::printable(line) + '\n';
    return safe_path::append_below(file, bytes, {work});
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
    const fs::path folder = fs::path(work + "log");
    const fs::path file = folder / log_file_name(today);

    // The "log" folder (and the configured work directory when missing),
    // made below the work directory; a link in its place is never followed
    // (the lines then wait in the list).
    std::error_code ec;
    fs::create_directories(work, ec);
    if (!safe_path::open_folder_below(folder.string(), {work}, true).valid()) return;

    // Rotation by weekday, once a day: at the first flush to each day's file.
    static std::string rotated_for;
    if (rotated_for != file.string()) {
        remove_same_weekday(folder, weekday_abbreviation(today.weekday), file);
        rotated_for = file.string();
    }

    // Append the list; clear it only when the lines were written.
    const std::size_t count = rt.list.size();
    if (append_lines(work, file.string(), rt.list.lines())) rt.list.drop_front(count);
}

}  // namespace velarion
