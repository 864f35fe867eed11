#include "platform/mail/report_box_maildir.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "platform/os/error.h"

namespace fs = std::filesystem;

namespace velarion::mail::detail {

namespace {

class MaildirReportBox final : public ReportBox {
public:
    explicit MaildirReportBox(std::string root) : root_(std::move(root)) {}

    std::vector<MailboxItem> list(const std::vector<std::string>& skip, std::size_t max_items) override {
        std::vector<MailboxItem> out;
        for (const char* sub : {"new", "cur"}) {
            std::error_code ec;
            fs::directory_iterator it(root_ / sub, ec), end;
            if (ec && ec != std::errc::no_such_file_or_directory)
                throw NumberedError(kFailure, "casella " + root_.string() + " non leggibile: " + ec.message(),
                                    Retry::later);
            for (; !ec && it != end && out.size() < max_items; it.increment(ec)) {
                std::error_code fe;
                // Only plain files: a link could lead anywhere.
                if (it->is_symlink(fe) || !it->is_regular_file(fe)) continue;
                MailboxItem item;
                item.key = std::string(sub) + "/" + it->path().filename().string();
                if (std::binary_search(skip.begin(), skip.end(), item.key)) continue;
                item.size = static_cast<std::size_t>(it->file_size(fe));
                out.push_back(std::move(item));
            }
        }
        return out;
    }

    std::string read(const MailboxItem& item) override {
        std::ifstream in(root_ / item.key, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    void file_away(const std::vector<std::string>& keys) override {
        const fs::path folder = root_ / ".Velarion.Rapporti";
        for (const char* sub : {"cur", "new", "tmp"}) fs::create_directories(folder / sub);
        for (const auto& key : keys) {
            const auto slash = key.find('/');
            if (slash == std::string::npos) continue;
            // A file read from new/ has been seen: it goes to cur/ there.
            std::error_code ec;
            fs::rename(root_ / key, folder / "cur" / key.substr(slash + 1), ec);
            if (ec && ec != std::errc::no_such_file_or_directory)
                throw NumberedError(kFailure, "impossibile spostare " + key + " in " + folder.string() + ": " +
                                                  ec.message(),
                                    Retry::later);
        }
    }

    void rest() override {}

private:
    fs::path root_;
};

}  // namespace

std::unique_ptr<ReportBox> open_maildir_report_box(const std::string& where) {
    std::string path = where;
    const std::string scheme = "maildir://localhost";
    if (path.rfind(scheme, 0) == 0) path = path.substr(scheme.size());
    return std::make_unique<MaildirReportBox>(path);
}

}  // namespace velarion::mail::detail
