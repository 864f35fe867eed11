#include "platform/pdf/font_files.h"

#include <fontconfig/fontconfig.h>
#include <strings.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <system_error>

#include "platform/os/paths.h"
#include "platform/os/text_encoding.h"

namespace fs = std::filesystem;

namespace velarion::font_files {

namespace {

struct PatternDeleter {
    void operator()(FcPattern* p) const { FcPatternDestroy(p); }
};
struct FontSetDeleter {
    void operator()(FcFontSet* s) const { FcFontSetDestroy(s); }
};
struct ObjectSetDeleter {
    void operator()(FcObjectSet* s) const { FcObjectSetDestroy(s); }
};
using Pattern = std::unique_ptr<FcPattern, PatternDeleter>;

bool is_regular(const std::string& path) {
    std::error_code ec;
    return !path.empty() && fs::is_regular_file(path, ec);
}

// The first font fontconfig knows whose file is called `name` (any case).
std::string in_fontconfig(const std::string& name) {
    Pattern all(FcPatternCreate());
    std::unique_ptr<FcObjectSet, ObjectSetDeleter> file(FcObjectSetBuild(FC_FILE, nullptr));
    if (!all || !file) return "";
    std::unique_ptr<FcFontSet, FontSetDeleter> fonts(FcFontList(nullptr, all.get(), file.get()));
    if (!fonts) return "";
    for (int i = 0; i < fonts->nfont; ++i) {
        FcChar8* path = nullptr;
        if (FcPatternGetString(fonts->fonts[i], FC_FILE, 0, &path) != FcResultMatch) continue;
        const std::string p = reinterpret_cast<const char*>(path);
        if (strcasecmp(paths::file_name(p).c_str(), name.c_str()) == 0 && is_regular(p)) return p;
    }
    return "";
}

// The first regular file of that name (any case) below the system font folders.
std::string in_system_folders(const std::string& name) {
    for (const auto& root : system_folders()) {
        std::error_code ec;
        fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec);
        for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            std::error_code type_ec;
            if (strcasecmp(it->path().filename().c_str(), name.c_str()) == 0 && it->is_regular_file(type_ec))
                return it->path().string();
        }
    }
    return "";
}

// A family name as fontconfig compares it: without blanks, in lower case.
std::string family_key(const std::string& family) {
    std::string key;
    for (char c : family)
        if (c != ' ') key += c;
    return text::lower(key);
}

// The file fontconfig matches to a family (and style) name, when its family
// is the one asked for; "" for a name fontconfig cannot parse or that only
// a substitute of another family matches.
std::string by_family(const std::string& name) {
    Pattern asked(FcNameParse(reinterpret_cast<const FcChar8*>(name.c_str())));
    if (!asked) return "";
    FcChar8* family = nullptr;
    if (FcPatternGetString(asked.get(), FC_FAMILY, 0, &family) != FcResultMatch) return "";
    const std::string wanted = reinterpret_cast<const char*>(family);
    Pattern pattern(FcPatternDuplicate(asked.get()));
    if (!pattern || !FcConfigSubstitute(nullptr, pattern.get(), FcMatchPattern)) return "";
    FcDefaultSubstitute(pattern.get());
    FcResult result = FcResultNoMatch;
    Pattern match(FcFontMatch(nullptr, pattern.get(), &result));
    if (!match) return "";
    // A font lists its family under one or more names (one per language).
    bool same_family = false;
    FcChar8* got = nullptr;
    for (int i = 0; !same_family && FcPatternGetString(match.get(), FC_FAMILY, i, &got) == FcResultMatch; ++i)
        same_family = family_key(reinterpret_cast<const char*>(got)) == family_key(wanted);
    FcChar8* file = nullptr;
    if (!same_family || FcPatternGetString(match.get(), FC_FILE, 0, &file) != FcResultMatch) return "";
    const std::string path = reinterpret_cast<const char*>(file);
    return is_regular(path) ? path : "";
}

// Where the system has the font file `base`: fontconfig's fonts, then a
// walk of the system folders (which sees a file fontconfig has not yet
// scanned, or one in a folder the system's configuration leaves out).
std::string file_in_system(const std::string& base) {
    std::string hit = in_fontconfig(base);
    return hit.empty() ? in_system_folders(base) : hit;
}

// The name itself when it carries a folder and exists; else the file of its
// last component in the program folder. "" when neither.
std::string direct_or_in_program(const std::string& name, const std::string& program_dir) {
    if (paths::has_separator(name)) {
        const std::string direct = paths::resolve(name);
        if (!direct.empty()) return direct;
    }
    const std::string base = paths::file_name(paths::native(name));
    const std::string program = program_dir.empty() ? paths::program_dir() : program_dir;
    const std::string hit = paths::find_in_folder(program, base);
    return is_regular(hit) ? hit : "";
}

}  // namespace

void release_config() { FcFini(); }

std::vector<std::string> system_folders() {
    std::vector<std::string> folders = {"/usr/share/fonts", "/usr/local/share/fonts"};
    if (const char* home = std::getenv("HOME"); home && *home) {
        folders.push_back(std::string(home) + "/.local/share/fonts");
        folders.push_back(std::string(home) + "/.fonts");
    }
    return folders;
}

bool is_file_name(const std::string& name) {
    if (paths::has_separator(name)) return true;
    const auto dot = name.rfind('.');
    if (dot == std::string::npos) return false;
    const std::string ext = text::lower(name.substr(dot + 1));
    for (const char* known : {"ttf", "otf", "ttc", "otc", "pfb", "pfa", "afm", "pcf", "fon", "fnt", "dfont"})
        if (ext == known) return true;
    return false;
}

std::string find(const std::string& name, const std::string& program_dir) {
    if (name.empty()) return "";
    if (!is_file_name(name)) return by_family(name);
    const std::string hit = direct_or_in_program(name, program_dir);
    return hit.empty() ? file_in_system(paths::file_name(paths::native(name))) : hit;
}

std::string FontFinder::find(const std::string& name, const std::string& program_dir) {
    if (name.empty()) return "";
    const bool file = is_file_name(name);
    std::string base;
    if (file) {
        if (paths::has_separator(name)) {
            const std::string direct = paths::resolve(name);
            if (!direct.empty()) return direct;
        }
        base = paths::file_name(paths::native(name));
        const std::string hit = in_program_folder(base, program_dir);
        if (!hit.empty()) return hit;
    }
    const std::string key = file ? "file:" + text::lower(base) : "family:" + name;
    const auto now = std::chrono::steady_clock::now();
    if (auto it = system_hits_.find(key); it != system_hits_.end()) {
        const Hit& h = it->second;
        if (h.path.empty() ? now - h.when < miss_lifetime_ : is_regular(h.path)) return h.path;
    }
    Hit& h = system_hits_[key];
    h = {file ? file_in_system(base) : by_family(name), now};
    return h.path;
}

std::string FontFinder::in_program_folder(const std::string& base, const std::string& program_dir) {
    // Longer than the coarsest modification-time step of the file systems
    // the program may sit on: a folder changed in the same step as it was
    // listed would keep its stamp.
    constexpr long long kSettleNs = 2'000'000'000;
    if (program_dir.empty() && own_folder_.empty()) own_folder_ = paths::program_dir();
    const std::string& folder = program_dir.empty() ? own_folder_ : program_dir;
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0) return "";
    const long long mtime = static_cast<long long>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
    Folder& f = folders_[folder];
    // Another version of the folder (an entry added, removed or renamed):
    // what it gave is asked again.
    if (!f.settled || f.device != st.st_dev || f.inode != st.st_ino || f.mtime_ns != mtime) {
        const auto now = std::chrono::system_clock::now().time_since_epoch();
        f = Folder{st.st_dev, st.st_ino, mtime,
                   std::chrono::duration_cast<std::chrono::nanoseconds>(now).count() - mtime > kSettleNs, {}};
    }
    auto it = f.found.find(base);
    if (it == f.found.end()) {
        it = f.found.emplace(base, paths::find_in_folder(folder, base)).first;
        ++folder_listings_;
    }
    return is_regular(it->second) ? it->second : "";
}

}  // namespace velarion::font_files
