#include "spool/installation.h"

#include <filesystem>
#include <system_error>

#include "common/work_folder.h"

namespace fs = std::filesystem;

namespace velarion::spool {

namespace {
// Room a message may need in the work folder besides twice its spool files
// (the copies and what is composed from them), and room the queue's records need.
constexpr std::uintmax_t kWorkMargin = 256 * 1024;
constexpr std::uintmax_t kQueueMargin = 64 * 1024;

bool is_folder(const std::string& path) {
    std::error_code ec;
    return fs::is_directory(path, ec);
}

// Free bytes for this user on the file system of `folder`; "unknown" reads as plenty.
std::uintmax_t room(const std::string& folder) {
    std::error_code ec;
    const fs::space_info s = fs::space(folder, ec);
    return ec ? static_cast<std::uintmax_t>(-1) : s.available;
}
}  // namespace

bool says_disk_full(const std::string& text) {
    for (const char* sign : {"Disk full", "No space left on device", "Disk quota exceeded", "ENOSPC", "EDQUOT"})
        if (text.find(sign) != std::string::npos) return true;
    return false;
}

std::vector<std::string> missing_work_folders(const std::string& work) {
    std::vector<std::string> out;
    if (!is_folder(work)) return out;  // the work folder itself is the operator's: the scan's checks say so
    const std::string agents = work + work_folder::kAgentsFolder;
    if (!is_folder(agents)) out.push_back(agents);
    return out;
}

std::string installation_trouble(const std::string& spool, const std::string& work,
                                 const std::vector<std::string>& spool_files, const std::string& error_text) {
    for (const auto& folder : missing_work_folders(work)) return "Cartella mancante " + folder;
    for (const auto& folder : {spool + "coda/", spool + "coda/agenti/"})
        if (is_folder(spool) && !is_folder(folder)) return "Cartella mancante " + folder;
    std::uintmax_t need = kWorkMargin;
    for (const auto& f : spool_files) {
        std::error_code ec;
        const std::uintmax_t size = fs::file_size(f, ec);
        if (!ec) need += 2 * size;
    }
    if (is_folder(work) && room(work) < need) return "Spazio esaurito in " + work;
    if (is_folder(spool) && room(spool) < kQueueMargin) return "Spazio esaurito in " + spool;
    if (says_disk_full(error_text)) return "Spazio esaurito in " + work;
    return "";
}

}  // namespace velarion::spool
