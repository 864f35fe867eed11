#include "support/spool_state.h"

#include <algorithm>
#include <filesystem>

#include "support/test_support.h"

namespace fs = std::filesystem;

namespace velarion::testing {

int waiting_messages(const std::string& spool) {
    int n = 0;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(spool, ec)) n += e.path().extension() == ".T";
    for (const auto& e : fs::directory_iterator(spool + "coda", ec))
        n += e.is_regular_file() && e.path().filename().string().find('@') != std::string::npos;
    return n;
}

std::map<std::string, int> drafts_by_recipient(const std::string& maildir) {
    std::map<std::string, int> by_to;
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(maildir, ec)) {
        const std::string parent = e.path().parent_path().filename().string();
        if (!e.is_regular_file() || (parent != "cur" && parent != "new")) continue;
        const std::string raw = read_file(e.path().string());
        const auto at = raw.find("\nTo: ");
        if (at != std::string::npos) ++by_to[raw.substr(at + 5, raw.find_first_of("\r\n", at + 5) - at - 5)];
    }
    return by_to;
}

std::vector<std::string> parked_folders(const std::string& work) {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(work + "non_inviati", ec)) out.push_back(e.path().string() + "/");
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace velarion::testing
