#include "spool/day_counts.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

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

void count_today(const std::string& work, int day, Counted what) {
    const std::string dir = work + "conteggi/";
    std::error_code ec;
    fs::create_directories(dir, ec);
    const std::string path = dir + prefix(day) + agent_identity() + ".txt";
    if (!fs::exists(path, ec)) prune(dir, day);
    // Only this agent writes its own file.
    DayCounts c = read_one(path);
    switch (what) {
        case Counted::delivered: ++c.delivered; break;
        case Counted::saved: ++c.saved; break;
        case Counted::deferred: ++c.deferred; break;
        case Counted::parked: ++c.parked; break;
        case Counted::bounced: ++c.bounced; break;
    }
    // A count is no promise about a message: it is neither synced nor
    // replaced by a rename (on ext4 a rename over a file starts its write-back,
    // a cost paid per message). It is written over in place; the counts only
    // grow, and a shorter text is cut to its length.
    const std::string text = "consegnati=" + std::to_string(c.delivered) + "\nsalvati=" + std::to_string(c.saved) +
                             "\nrinviati=" + std::to_string(c.deferred) + "\nnon_inviati=" +
                             std::to_string(c.parked) + "\nrespinti=" + std::to_string(c.bounced) + "\n";
    const safe_path::Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0666));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return;
    const auto size = static_cast<off_t>(text.size());
    if (::pwrite(fd.get(), text.data(), text.size(), 0) == static_cast<ssize_t>(size) && st.st_size > size &&
        ::ftruncate(fd.get(), size) != 0)
        return;  // not cut: only a file that was not ours was longer
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
