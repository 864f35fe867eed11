#include "fuzz_support.h"

#include <linux/landlock.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <fcntl.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "platform/pdf/font_files.h"

namespace fs = std::filesystem;

namespace velarion::fuzz {
namespace {

// Removes the folder when the process ends normally (libFuzzer's -runs and
// -max_total_time end with exit()).
struct Root {
    std::string path;
    Root() {
        // A memory file system when there is one: every input writes and removes files.
        std::error_code ec;
        const fs::path base = fs::is_directory("/dev/shm", ec) && ::access("/dev/shm", W_OK) == 0
                                  ? fs::path("/dev/shm")
                                  : fs::temp_directory_path(ec);
        std::string tmpl = (base / "velarion-fuzz-XXXXXX").string();
        if (!mkdtemp(tmpl.data())) {
            std::perror("velarion fuzz: mkdtemp");
            std::abort();
        }
        path = tmpl + "/";
        fs::create_directories(path + "tmp", ec);
        setenv("TMPDIR", (path + "tmp").c_str(), 1);
    }
    ~Root() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

// Landlock: rights that write, and those the kernel's ABI version knows.
constexpr std::uint64_t kWriteRights =
    LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_REMOVE_DIR | LANDLOCK_ACCESS_FS_REMOVE_FILE |
    LANDLOCK_ACCESS_FS_MAKE_CHAR | LANDLOCK_ACCESS_FS_MAKE_DIR | LANDLOCK_ACCESS_FS_MAKE_REG |
    LANDLOCK_ACCESS_FS_MAKE_SOCK | LANDLOCK_ACCESS_FS_MAKE_FIFO | LANDLOCK_ACCESS_FS_MAKE_BLOCK |
    LANDLOCK_ACCESS_FS_MAKE_SYM;
#ifndef LANDLOCK_ACCESS_FS_REFER
#define LANDLOCK_ACCESS_FS_REFER (1ULL << 13)
#endif
#ifndef LANDLOCK_ACCESS_FS_TRUNCATE
#define LANDLOCK_ACCESS_FS_TRUNCATE (1ULL << 14)
#endif

bool allow(int ruleset, const std::string& path, std::uint64_t rights) {
    const int fd = ::open(path.c_str(), O_PATH | O_CLOEXEC);
    if (fd < 0) return false;
    landlock_path_beneath_attr rule{};
    rule.allowed_access = rights;
    rule.parent_fd = fd;
    const long rc = syscall(SYS_landlock_add_rule, ruleset, LANDLOCK_RULE_PATH_BENEATH, &rule, 0);
    ::close(fd);
    return rc == 0;
}

}  // namespace

const std::string& work_root() {
    static const Root root;
    return root.path;
}

bool confine_writes() {
    const std::string& root = work_root();
    const long abi = syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    if (abi < 1) return false;
    std::uint64_t rights = kWriteRights;
    if (abi >= 2) rights |= LANDLOCK_ACCESS_FS_REFER;
    if (abi >= 3) rights |= LANDLOCK_ACCESS_FS_TRUNCATE;
    landlock_ruleset_attr attr{};
    attr.handled_access_fs = rights;
    const int ruleset = static_cast<int>(syscall(SYS_landlock_create_ruleset, &attr, sizeof attr, 0));
    if (ruleset < 0) return false;
    bool ok = allow(ruleset, root, rights);
    // Files rather than folders take only the rights of files.
    const std::uint64_t file_rights = LANDLOCK_ACCESS_FS_WRITE_FILE | (abi >= 3 ? LANDLOCK_ACCESS_FS_TRUNCATE : 0);
    allow(ruleset, "/dev/null", file_rights);
    if (const char* extra = std::getenv("VELARION_FUZZ_WRITABLE")) {
        std::string list = extra;
        for (std::size_t start = 0; start <= list.size();) {
            std::size_t end = list.find(':', start);
            if (end == std::string::npos) end = list.size();
            const std::string dir = list.substr(start, end - start);
            if (!dir.empty()) ok = allow(ruleset, dir, rights) && ok;
            start = end + 1;
        }
    }
    ok = ok && prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && syscall(SYS_landlock_restrict_self, ruleset, 0) == 0;
    ::close(ruleset);
    return ok;
}

std::map<std::string, std::string> split_parts(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::map<std::string, std::string> parts;
    std::string* part = &parts[""];
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t eol = text.find('\n', pos);
        const std::size_t end = eol == std::string::npos ? text.size() : eol + 1;
        if (text.compare(pos, 4, "@@@ ") == 0) {
            std::string name = text.substr(pos + 4, (eol == std::string::npos ? text.size() : eol) - pos - 4);
            if (!name.empty() && name.back() == '\r') name.pop_back();
            part = &parts[name];
        } else {
            part->append(text, pos, end - pos);
        }
        pos = end;
    }
    return parts;
}

bool safe_file_name(const std::string& name) {
    if (name.empty() || name.size() > 64 || name[0] == '.') return false;
    for (char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                        c == '_' || c == '-';
        if (!ok) return false;
    }
    return true;
}

void write_bytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void write_parts(const std::map<std::string, std::string>& parts, const std::string& folder) {
    for (const auto& [name, bytes] : parts)
        if (safe_file_name(name)) write_bytes(folder + name, bytes);
}

void empty_folder(const std::string& folder) {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec)) fs::remove_all(e.path(), ec);
    fs::create_directories(folder, ec);
}

Context::Context() : clock(make_datetime(2026, 12, 7, 10, 30, 0)), agent(clock, view) {
    work = work_root() + "tempozip/";
    logos = work_root() + "loghi/";
    cfg.op.tempozip_dir = work;
    cfg.op.Dir_Loghi = logos;
    cfg.op.Path = work_root() + "spool/";
    cfg.op.unione_DIR = logos;  // "///M" files among the input's parts
    cfg.host.program_dir = work_root() + "bin/";  // no protection tool
    cfg.host.documents_dir = work_root() + "documenti/";
    cfg.host.decimal_separator = ".";
    cfg.derive();
    cfg.pdf.xp_edition = true;
    cfg.pdf.merge = true;
    reset();
}

void Context::report() const {
    static const bool verbose = std::getenv("VELARION_FUZZ_VERBOSE") != nullptr;
    if (!verbose) return;
    for (const auto& line : agent.list.lines()) std::fprintf(stderr, "  | %s\n", line.c_str());
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(work_root(), ec))
        if (e.is_regular_file())
            std::fprintf(stderr, "  + %s %ju\n", e.path().string().substr(work_root().size()).c_str(),
                         static_cast<std::uintmax_t>(e.file_size()));
}

void Context::reset() {
    empty_folder(work);
    empty_folder(logos);
    empty_folder(work_root() + "tmp/");
    agent.list.clear();
}

}  // namespace velarion::fuzz

namespace {
// A block nothing points to: the leak check at exit must report it ("Direct
// leak of 4242 byte(s)"), which run.sh looks for to know that leaks are
// checked at all. Made on a thread of its own, whose stack is gone when the
// check runs (a stale copy of the pointer on a live stack would hide it).
void leak_on_purpose() {
    std::thread([] {
        char* volatile block = new char[4242];
        block[0] = 1;
    }).join();
}
}  // namespace

// libFuzzer calls this once before the first input; the replay programs do too.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    velarion::fuzz::work_root();
    if (std::getenv("VELARION_FUZZ_LEAK")) leak_on_purpose();
    // fontconfig keeps its configuration to the end of the process: freed
    // before the leak check, which then sees only leaks of the program's own.
    std::atexit(velarion::font_files::release_config);
    if (velarion::fuzz::confine_writes()) return 0;
#ifdef VELARION_LIBFUZZER
    // Inputs name files to write (copy targets, merge files): never fuzz unconfined by accident.
    if (!std::getenv("VELARION_FUZZ_UNCONFINED")) {
        std::fprintf(stderr, "velarion fuzz: writes cannot be confined (Landlock); set VELARION_FUZZ_UNCONFINED=1 "
                             "to run anyway\n");
        std::exit(1);
    }
#endif
    std::fprintf(stderr, "velarion fuzz: writes are not confined (no Landlock)\n");
    return 0;
}
