#include "spool/day_counts.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <string_view>

#include "platform/os/agent_identity.h"
#include "platform/os/clock.h"
#include "platform/os/safe_path.h"

namespace fs = std::filesystem;

namespace velarion::spool {

namespace {
std::string prefix(int day) { return "conteggi_" + std::to_string(day) + "_"; }

DayCounts parse(const std::string& text) {
    DayCounts c;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        const auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        int n = 0;
        std::from_chars(line.data() + eq + 1, line.data() + line.size(), n);
        const std::string key = line.substr(0, eq);
        if (key == "consegnati") c.delivered = n;
        else if (key == "salvati") c.saved = n;
        else if (key == "rinviati") c.deferred = n;
        else if (key == "non_inviati") c.parked = n;
        else if (key == "respinti") c.bounced = n;
    }
    return c;
}

DayCounts read_one(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return parse(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
}
}  // namespace

DayCounts& DayCounts::operator+=(const DayCounts& o) {
    delivered += o.delivered;
    saved += o.saved;
    deferred += o.deferred;
    parked += o.parked;
    bounced += o.bounced;
    return *this;
}

long long day_number(int yyyymmdd) {
    return to_seconds(make_datetime(yyyymmdd / 10000, yyyymmdd / 100 % 100, yyyymmdd % 100)) / 86400;
}

// Counts of days more than a week gone are removed when a new day's file is made.
void prune(const std::string& dir, int today) {
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        int day = 0;
        if (name.rfind("conteggi_", 0) != 0) continue;
        std::from_chars(name.data() + 9, name.data() + name.size(), day);
        if (day > 0 && day_number(day) < day_number(today) - 8) {
            std::error_code rm;
            fs::remove(it->path(), rm);
        }
    }
}

namespace {

// This agent's file of the day, kept open between counts: only this agent
// writes it, so what it holds is known without reading it again. Counts come
// from the scan and from the thread that reads delivery reports.
struct OpenCounts {
    std::mutex lock;
    std::string work;  // the work folder and day of `path`
    int day = 0;
    std::string dir;
    std::string path;
    safe_path::Fd fd;
    DayCounts counts;
    std::size_t written = 0;  // the file's length
};

OpenCounts& open_counts() {
    static OpenCounts c;
    return c;
}

// Opens the file anew (first count of the day, another work folder, or a
// file removed meanwhile), reading what it holds; false when it cannot.
bool reopen(OpenCounts& c, const std::string& dir, const std::string& path, int day) {
    c.fd = safe_path::Fd();
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (!fs::exists(path, ec)) prune(dir, day);
    safe_path::Fd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0666));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    std::string text(static_cast<std::size_t>(std::min<off_t>(st.st_size, 4096)), '\0');
    const ssize_t got = ::pread(fd.get(), text.data(), text.size(), 0);
    text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    c.counts = parse(text);
    c.written = static_cast<std::size_t>(st.st_size);
    c.path = path;
    c.fd = std::move(fd);
    return true;
}

}  // namespace

void count_today(const std::string& work, int day, Counted what) {
    OpenCounts& c = open_counts();
    const std::lock_guard<std::mutex> hold(c.lock);
    // The file's name made once a day (and for another work folder), not per count.
    if (c.day != day || c.work != work) {
        c.fd = safe_path::Fd();
        c.work = work;
        c.day = day;
        c.dir = work + "conteggi/";
        c.path = c.dir + prefix(day) + agent_identity() + ".txt";
    }
    struct stat st {};
    const bool current = c.fd.valid() && ::fstat(c.fd.get(), &st) == 0 && st.st_nlink > 0;
    if (!current && !reopen(c, c.dir, c.path, day)) return;
    switch (what) {
        case Counted::delivered: ++c.counts.delivered; break;
        case Counted::saved: ++c.counts.saved; break;
        case Counted::deferred: ++c.counts.deferred; break;
        case Counted::parked: ++c.counts.parked; break;
        case Counted::bounced: ++c.counts.bounced; break;
    }
    // A count is no promise about a message: it is neither synced nor
    // replaced by a rename (on ext4 a rename over a file starts its write-back,
    // a cost paid per message). It is written over in place; the counts only
    // grow, and a longer text that was there is cut to the new length.
    char buf[160];
    const int len = std::snprintf(buf, sizeof buf, "consegnati=%d\nsalvati=%d\nrinviati=%d\nnon_inviati=%d\nrespinti=%d\n",
                                  c.counts.delivered, c.counts.saved, c.counts.deferred, c.counts.parked,
                                  c.counts.bounced);
    const std::string_view text(buf, static_cast<std::size_t>(std::clamp(len, 0, static_cast<int>(sizeof buf) - 1)));
    if (::pwrite(c.fd.get(), text.data(), text.size(), 0) != static_cast<ssize_t>(text.size())) {
        c.fd = safe_path::Fd();  // opened and read again at the next count
        return;
    }
    if (c.written > text.size() && ::ftruncate(c.fd.get(), static_cast<off_t>(text.size())) != 0) return;
    c.written = text.size();
}

DayCounts read_day_counts(const std::string& work, int day) {
    DayCounts total;
    std::error_code ec;
    const std::string want = prefix(day);
    for (fs::directory_iterator it(work + "conteggi", ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.rfind(want, 0) == 0 && name.ends_with(".txt")) total += read_one(it->path().string());
    }
    return total;
}

}  // namespace velarion::spool
