#include "spool/spool_files.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace velarion::spool {

std::vector<std::string> read_lines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw NumberedError(53, "File not found " + path);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
    }
    if (in.bad()) throw NumberedError(57, "Device I/O error " + path);
    return lines;
}

std::string read_head(const std::string& path, std::size_t limit) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "";
    std::string head(limit, '\0');
    in.read(head.data(), static_cast<std::streamsize>(limit));
    head.resize(static_cast<std::size_t>(in.gcount()));
    return head;
}

void copy_file(const std::string& from, const std::string& to) {
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
}

std::uintmax_t file_size(const std::string& path) { return fs::file_size(path); }

bool is_file(const std::string& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

void remove_or_mark_done(const std::string& path, bool mark_done) {
    if (!mark_done) {
        fs::remove(path);  // false, not an error, when it is already gone
        return;
    }
    std::error_code ec;
    if (!fs::exists(path, ec)) return;
    fs::rename(path, path + ".FATTO");
}

bool is_safe_file_name(const std::string& name) {
    if (name.empty() || name == ".") return false;
    if (name.find("..") != std::string::npos) return false;
    for (unsigned char c : name) {
        if (c == '/' || c == '\\' || c < 0x20 || c == 0x7f) return false;
    }
    return true;
}

std::string stamp_seconds(const DateTime& t) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d%02d%02d%02d%02d%02d", t.year % 100, t.month, t.day, t.hour,
                  t.minute, t.second);
    return buf;
}

std::string stamp_minutes(const DateTime& t) { return stamp_seconds(t).substr(0, 10); }

}  // namespace velarion::spool
