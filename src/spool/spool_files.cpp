#include "spool/spool_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <istream>
#include <streambuf>
#include <string_view>
#include <system_error>

#include "common/bounded_line.h"
#include "platform/os/file_kind.h"
#include "platform/os/paths.h"
#include "platform/os/safe_path.h"

namespace fs = std::filesystem;

namespace velarion::spool {

namespace {
// A spool or work file opened once for reading: never through a link, never
// waiting on a FIFO, a plain file only, so that a file checked and then
// swapped for something else is not what is read. NumberedError 53 otherwise.
safe_path::Fd open_text(const std::string& path) {
    safe_path::Fd fd = safe_path::open_nofollow(path);
    if (!fd.valid()) throw NumberedError(53, "File not found " + path);
    return fd;
}
}  // namespace

std::vector<std::string> read_lines(const std::string& path) {
    const safe_path::Fd fd = open_text(path);
    safe_path::FdReader reader(fd);
    std::istream in(&reader);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
    }
    if (in.bad() || reader.failed()) throw NumberedError(57, "Device I/O error " + path);
    return lines;
}

namespace {
// Lines of at most max_line bytes, max_total in all; TooLarge beyond.
std::vector<std::string> read_limited(std::istream& in, std::size_t max_line, std::size_t max_total,
                                      const std::string& too_long_line, const std::string& too_large) {
    std::vector<std::string> lines;
    std::size_t total = 0;
    std::string line;
    // One byte more than the bound tells a line that is too long.
    while (read_bounded_line(in, line, max_line + 2)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() > max_line) throw TooLarge(too_long_line);
        total += line.size() + 2;
        if (total > max_total + 2) throw TooLarge(too_large);
        lines.push_back(std::move(line));
    }
    return lines;
}

std::vector<std::string> read_limited(const std::string& path, std::size_t max_line, std::size_t max_total,
                                      const std::string& too_long_line, const std::string& too_large) {
    const safe_path::Fd fd = open_text(path);
    safe_path::FdReader reader(fd);
    std::istream in(&reader);
    std::vector<std::string> lines = read_limited(in, max_line, max_total, too_long_line, too_large);
    if (in.bad() || reader.failed()) throw NumberedError(57, "Device I/O error " + path);
    return lines;
}

// Bytes in memory read as a stream, without a copy.
class BytesReader : public std::streambuf {
public:
    explicit BytesReader(std::string_view bytes) {
        char* p = const_cast<char*>(bytes.data());
        setg(p, p, p + bytes.size());
    }
};

std::vector<std::string> lines_of(std::string_view bytes, std::size_t max_line, std::size_t max_total,
                                  const std::string& too_long_line, const std::string& too_large) {
    BytesReader reader(bytes);
    std::istream in(&reader);
    return read_limited(in, max_line, max_total, too_long_line, too_large);
}

const char kHeaderLineTooLong[] = "Riga di intestazione oltre 64 KB";
const char kHeaderTooLarge[] = "Intestazione oltre 1 MB";
const char kBodyTooLarge[] = "Testo del messaggio oltre 1 MB";
}  // namespace

std::vector<std::string> read_header_lines(const std::string& path) {
    return read_limited(path, kMaxHeaderLine, kMaxHeader, kHeaderLineTooLong, kHeaderTooLarge);
}

std::vector<std::string> read_body_lines(const std::string& path) {
    return read_limited(path, kMaxBody, kMaxBody, kBodyTooLarge, kBodyTooLarge);
}

std::vector<std::string> header_lines(std::string_view bytes) {
    return lines_of(bytes, kMaxHeaderLine, kMaxHeader, kHeaderLineTooLong, kHeaderTooLarge);
}

std::vector<std::string> body_lines(std::string_view bytes) {
    return lines_of(bytes, kMaxBody, kMaxBody, kBodyTooLarge, kBodyTooLarge);
}

std::string read_head(const std::string& path, std::size_t limit) {
    // Opened without waiting and read only when a plain file: a FIFO in its
    // place would stop the agent until someone wrote to it.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return "";
    struct stat st {};
    std::string head;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        head.resize(limit);
        std::size_t got = 0;
        while (got < limit) {
            const ssize_t n = ::read(fd, head.data() + got, limit - got);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += static_cast<std::size_t>(n);
        }
        head.resize(got);
    }
    ::close(fd);
    return head;
}

void copy_file(const std::string& from, const std::string& to, atomic_file::Sync sync) {
    if (safe_path::copy_below(from, to, {paths::folder(paths::native(to))}, false, sync)) return;
    const int copy_errno = errno;
    // The reason, as the file system's own copy gives it, for the error line.
    std::error_code ec;
    int code = copy_errno == ENOSPC || copy_errno == EDQUOT ? copy_errno : EIO;
    const fs::file_status target = fs::symlink_status(to, ec);
    if (safe_path::is_link(from))
        code = ELOOP;
    else if (!fs::is_regular_file(from, ec) || !fs::is_directory(paths::folder(paths::native(to)), ec))
        code = ENOENT;
    else if (code == EIO && fs::exists(target) && !fs::is_regular_file(target) && !fs::is_symlink(target))
        code = EINVAL;
    throw fs::filesystem_error("copy_file", from, to, std::error_code(code, std::generic_category()));
}

void append_file(const std::string& path, const std::string& bytes, const std::string& root) {
    if (!safe_path::append_below(path, bytes, {root})) throw NumberedError(75, "Path/File access error " + path);
}

bool is_link(const std::string& path) { return safe_path::is_link(path); }

std::string refused_kind(const std::string& path) { return refused_kind(file_kind::of(path)); }

std::string refused_kind(file_kind::Kind kind) {
    using file_kind::Kind;
    switch (kind) {
        case Kind::missing:
        case Kind::plain:
            return "";
        case Kind::hard_linked:
            return "collegamento fisico";
        case Kind::symlink:
            return "collegamento simbolico";
        case Kind::fifo:
            return "FIFO";
        case Kind::device:
            return "dispositivo";
        case Kind::socket:
            return "socket";
        case Kind::folder:
            return "cartella";
    }
    return "";
}

namespace {
// Room for the longest suffix the agent adds to a base name (".h_yymmddHHMMSS",
// "_yymmddHHMMSS_2/") within a file name of 255 bytes.
constexpr std::size_t kMaxBaseName = 200;
bool odd_char(unsigned char c) { return c == '\\' || c == '/' || c == '*' || c == '?'; }
}  // namespace

std::string odd_message_name(const std::string& base) {
    for (unsigned char c : base)
        if (odd_char(c)) return c == '\\' ? "barra rovesciata" : "carattere jolly";
    if (base.size() > kMaxBaseName) return "nome troppo lungo";
    if (base.empty() || base == "." || base == "..") return "nome riservato";
    return "";
}

std::string plain_name(const std::string& name) {
    // Cut in the middle, so that the suffixes of a message's files stay apart.
    std::string out = name.size() <= kMaxBaseName ? name : name.substr(0, kMaxBaseName - 10) + name.substr(name.size() - 10);
    for (char& c : out) {
        const auto u = static_cast<unsigned char>(c);
        if (odd_char(u)) c = '_';
    }
    if (out.empty() || out == "." || out == "..") out = "_";
    return out;
}

bool present(const std::string& path) { return file_kind::of(path) != file_kind::Kind::missing; }

std::uintmax_t file_size(const std::string& path) { return fs::file_size(path); }

bool is_file(const std::string& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

void remove_or_mark_done(const std::string& path, bool mark_done) {
    if (!mark_done) {
        // false, not an error, when it is already gone; a folder goes with
        // what it holds, links in it not followed
        fs::remove_all(path);
        return;
    }
    std::error_code ec;
    if (!fs::exists(path, ec)) return;
    fs::rename(path, path + ".FATTO");
}

std::string stamp_seconds(const DateTime& t) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d%02d%02d%02d%02d%02d", t.year % 100, t.month, t.day, t.hour,
                  t.minute, t.second);
    return buf;
}

std::string stamp_minutes(const DateTime& t) { return stamp_seconds(t).substr(0, 10); }

}  // namespace velarion::spool
