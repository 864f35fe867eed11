#include "platform/os/ini_file.h"

// Windows-1252 bytes pass through unchanged: no wide-character conversion.
#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION  // Debian ships the template bodies behind this switch
#include <SimpleIni.h>

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <mutex>
#include <system_error>

#include "platform/os/atomic_file.h"
#include "platform/os/safe_path.h"

namespace velarion::ini {

namespace {
constexpr std::size_t kValueLimit = 1023;  // buffer of 1024 with its NUL
constexpr std::size_t kKeyListLimit = 4094;  // buffer of 4096 less the two closing NULs

using Ini = CSimpleIniA;  // names compared without case

FileStamp stamp_from(const struct stat& st) {
    FileStamp s;
    s.device = st.st_dev;
    s.inode = st.st_ino;
    s.size = static_cast<unsigned long long>(st.st_size);
    s.mtime_ns = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    return s;
}

std::mutex reads_mutex;
std::map<std::string, int>& read_counts() {
    static std::map<std::string, int> counts;
    return counts;
}

void count_read(const std::string& path) {
    const std::lock_guard<std::mutex> lock(reads_mutex);
    ++read_counts()[path];
}

// Only a regular file is read (LoadFile would take a folder's length as the
// size to allocate, and wait on a FIFO for a writer): it is opened without
// waiting, checked and read here, and handed over as data.
bool read_bytes(const std::string& path, std::string& data, FileStamp* stamp = nullptr) {
    count_read(path);
    const safe_path::Fd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    if (stamp) *stamp = stamp_from(st);
    char buffer[1 << 14];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        data.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
}

bool load_data(Ini& ini, const std::string& data) {
    ini.SetUnicode(false);
    ini.SetMultiKey(false);
    return ini.LoadData(data.data(), data.size()) >= 0;
}

bool load(Ini& ini, const std::string& path) {
    std::string data;
    return read_bytes(path, data) && load_data(ini, data);
}
}  // namespace

int times_read(const std::string& path) {
    const std::lock_guard<std::mutex> lock(reads_mutex);
    const auto it = read_counts().find(path);
    return it == read_counts().end() ? 0 : it->second;
}

std::optional<FileStamp> stamp_of(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return stamp_from(st);
}

std::optional<FileStamp> stamp_of(const safe_path::Fd& fd) {
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return stamp_from(st);
}

const IniSection* IniContents::section(const std::string& name) const {
    for (const auto& s : sections)
        if (strcasecmp(s.name.c_str(), name.c_str()) == 0) return &s;
    return nullptr;
}

std::string read(const std::string& section, const std::string& key, const std::string& def,
                 const std::string& path) {
    Ini ini;
    if (!load(ini, path)) return def.substr(0, kValueLimit);
    const char* v = ini.GetValue(section.c_str(), key.c_str(), nullptr);
    std::string out = v ? std::string(v) : def;
    if (out.size() > kValueLimit) out.resize(kValueLimit);
    return out;
}

std::vector<std::string> key_names(const std::string& section, const std::string& path) {
    Ini ini;
    std::vector<std::string> out;
    if (!load(ini, path)) return out;
    Ini::TNamesDepend keys;
    if (!ini.GetAllKeys(section.c_str(), keys)) return out;
    keys.sort(Ini::Entry::LoadOrder());
    for (const auto& k : keys) out.emplace_back(k.pItem);
    return out;
}

std::vector<std::pair<std::string, std::string>> read_section(const std::string& section,
                                                              const std::string& path) {
    Ini ini;
    std::vector<std::pair<std::string, std::string>> out;
    if (!load(ini, path)) return out;
    Ini::TNamesDepend keys;
    if (!ini.GetAllKeys(section.c_str(), keys)) return out;
    keys.sort(Ini::Entry::LoadOrder());
    for (const auto& k : keys) {
        std::string v = ini.GetValue(section.c_str(), k.pItem, "");
        if (v.size() > kValueLimit) v.resize(kValueLimit);
        out.emplace_back(k.pItem, std::move(v));
    }
    return out;
}

std::string read_keys(const std::string& section, const std::string& path) {
    std::string out;
    for (const auto& k : key_names(section, path)) {
        if (out.size() + k.size() + 1 > kKeyListLimit) break;
        out += k;
        out.push_back('\0');
    }
    return out;
}

namespace {

// The file's lines as written, each with its own line end ("" for a last
// line without one).
struct Line {
    std::string text;
    std::string end;
};

std::vector<Line> split_lines(const std::string& bytes) {
    std::vector<Line> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        const auto nl = bytes.find('\n', start);
        Line line;
        if (nl == std::string::npos) {
            line.text = bytes.substr(start);
            start = bytes.size();
        } else {
            line.text = bytes.substr(start, nl - start);
            line.end = "\n";
            if (!line.text.empty() && line.text.back() == '\r') {
                line.text.pop_back();
                line.end = "\r\n";
            }
            start = nl + 1;
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

std::string trimmed(const std::string& s) {
    const auto b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return "";
    return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

bool same_name(const std::string& a, const std::string& b) { return strcasecmp(a.c_str(), b.c_str()) == 0; }

// "[name]" as the INI reader takes it; nullopt for any other line.
std::optional<std::string> section_name(std::string line) {
    if (line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);  // a byte-order mark on the first line
    line = trimmed(line);
    if (line.empty() || line[0] != '[') return std::nullopt;
    const auto close = line.find(']');
    if (close == std::string::npos) return std::nullopt;
    return trimmed(line.substr(1, close - 1));
}

// The key of a "key=value" line; nullopt for comments, blank lines and headers.
std::optional<std::string> key_name(const std::string& line) {
    const std::string t = trimmed(line);
    if (t.empty() || t[0] == ';' || t[0] == '#' || t[0] == '[') return std::nullopt;
    const auto eq = t.find('=');
    if (eq == std::string::npos) return std::nullopt;
    return trimmed(t.substr(0, eq));
}

// One change on the file's bytes: the entry's line replaced, added at the end
// of its section, or removed; a section removed; every other byte as it was.
std::string edit(const std::string& bytes, const std::string& section, const std::optional<std::string>& key,
                 const std::optional<std::string>& value) {
    std::vector<Line> lines = split_lines(bytes);
    // New lines take the file's own line end.
    const std::string eol = !lines.empty() && lines[0].end == "\r\n" ? "\r\n" : "\n";
    // A value is one line: a line break in it would make keys of its own.
    std::string entry_value = value.value_or("");
    for (char& c : entry_value)
        if (c == '\r' || c == '\n') c = ' ';

    std::vector<Line> out;
    out.reserve(lines.size() + 2);
    bool in_section = section.empty();  // lines before any header belong to the unnamed section
    bool found_section = in_section, found_key = false;
    std::size_t insert_at = 0;  // after the last entry of the (last) matching section
    for (auto& line : lines) {
        if (auto name = section_name(line.text)) {
            in_section = same_name(*name, section);
            if (in_section) {
                found_section = true;
                if (!key) continue;  // the header of a deleted section goes
                out.push_back(std::move(line));
                insert_at = out.size();
                continue;
            }
            out.push_back(std::move(line));
            continue;
        }
        if (in_section && !key) continue;  // the lines of a deleted section go
        if (in_section && key) {
            const auto k = key_name(line.text);
            if (k && same_name(*k, *key)) {
                found_key = true;
                if (!value) continue;  // a deleted key
                line.text = *k + "=" + entry_value;
            }
            if (!trimmed(line.text).empty()) insert_at = out.size() + 1;
        }
        out.push_back(std::move(line));
    }
    if (key && value && !found_key) {
        Line entry{*key + "=" + entry_value, eol};
        if (found_section) {
            if (insert_at > 0 && out[insert_at - 1].end.empty()) out[insert_at - 1].end = eol;
            out.insert(out.begin() + static_cast<std::ptrdiff_t>(insert_at), std::move(entry));
        } else {
            if (!out.empty() && out.back().end.empty()) out.back().end = eol;
            out.push_back({"[" + section + "]", eol});
            out.push_back(std::move(entry));
        }
    }
    std::string result;
    result.reserve(bytes.size() + 64);
    for (const auto& line : out) result += line.text + line.end;
    return result;
}

// SimpleIni would rewrite the whole file in its own layout (line feeds for
// CR LF, blank lines between sections, spaces around "="), and the files are
// shared with Windows installations and edited by hand. So the changes are
// made here on the lines themselves (edit above), and the new file replaces
// the old in one rename, with the old one's permissions.
bool rewrite_file(const std::string& path, const std::function<std::string(const std::string&)>& change) {
    // A link (an installation that keeps its configuration elsewhere) stays:
    // the file it names is the one replaced.
    std::error_code ec;
    std::string target = path;
    if (std::filesystem::is_symlink(path, ec)) {
        target = std::filesystem::canonical(path, ec).string();
        if (ec) return false;
    }
    std::string bytes;
    const bool existed = std::filesystem::exists(target, ec);
    if (existed) {
        std::ifstream in(target, std::ios::binary);
        if (!in) return false;
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (in.bad()) return false;
    }
    const std::string result = change(bytes);
    if (existed && result == bytes) return true;
    return atomic_file::write_keeping_mode(target, result);
}

}  // namespace

bool write(const std::string& section, const std::optional<std::string>& key,
           const std::optional<std::string>& value, const std::string& path) {
    return rewrite_file(path, [&](const std::string& bytes) { return edit(bytes, section, key, value); });
}

bool write_values(const std::string& section, const std::vector<std::pair<std::string, std::string>>& entries,
                  const std::string& path) {
    return rewrite_file(path, [&](std::string bytes) {
        for (const auto& [k, v] : entries) bytes = edit(bytes, section, k, v);
        return bytes;
    });
}

namespace {
// The contents of the bytes read; read stays false when they are no INI file.
void fill(IniContents& out, const std::string& data) {
    Ini ini;
    if (!load_data(ini, data)) return;
    out.read = true;
    // SimpleIni keeps no line numbers: the lines are scanned here for each
    // header and key (the last line of a key written twice, whose value the
    // library keeps), as the line editor above reads them.
    std::map<std::string, int> header_line, key_line;  // lower-case names
    auto lower = [](std::string s) {
        for (char& c : s)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        return s;
    };
    std::string current;
    int number = 0;
    for (const auto& line : split_lines(data)) {
        ++number;
        if (auto name = section_name(line.text)) {
            current = lower(*name);
            header_line.emplace(current, number);
        } else if (auto key = key_name(line.text)) {
            key_line[current + "\n" + lower(*key)] = number;
        }
    }
    Ini::TNamesDepend sections;
    ini.GetAllSections(sections);
    sections.sort(Ini::Entry::LoadOrder());
    for (const auto& sec : sections) {
        IniSection section;
        section.name = sec.pItem;
        const std::string lname = lower(section.name);
        if (auto it = header_line.find(lname); it != header_line.end()) section.line = it->second;
        Ini::TNamesDepend keys;
        ini.GetAllKeys(sec.pItem, keys);
        keys.sort(Ini::Entry::LoadOrder());
        for (const auto& k : keys) {
            IniEntry e;
            e.key = k.pItem;
            e.value = ini.GetValue(sec.pItem, k.pItem, "");
            if (e.value.size() > kValueLimit) e.value.resize(kValueLimit);
            if (auto it = key_line.find(lname + "\n" + lower(e.key)); it != key_line.end()) e.line = it->second;
            section.entries.push_back(std::move(e));
        }
        out.sections.push_back(std::move(section));
    }
}
}  // namespace

IniContents read_all(const std::string& path) {
    IniContents out;
    std::string data;
    if (read_bytes(path, data, &out.stamp)) fill(out, data);
    return out;
}

IniContents read_all(const safe_path::Fd& fd) {
    IniContents out;
    const auto stamp = stamp_of(fd);
    if (!stamp) return out;
    out.stamp = *stamp;
    if (const auto data = safe_path::read_whole(fd)) fill(out, *data);
    return out;
}

}  // namespace velarion::ini
