#include "platform/mail/stored_drafts.h"

#include <filesystem>
#include <fstream>
#include <memory>
#include <vmime/net/imap/IMAPCommand.hpp>
#include <vmime/net/imap/IMAPConnection.hpp>
#include <vmime/net/imap/IMAPParser.hpp>
#include <vmime/net/imap/IMAPStore.hpp>

#include "platform/os/text_encoding.h"

namespace fs = std::filesystem;
namespace imap = vmime::net::imap;

namespace velarion::mail::detail {

namespace {

// A header this long is no draft of ours: reading stops there.
constexpr std::size_t kHeaderLimit = 256 * 1024;

bool header_names(const fs::path& file, const std::string& wanted) {
    std::ifstream in(file, std::ios::binary);
    std::size_t read = 0;
    for (std::string line; read < kHeaderLimit && std::getline(in, line);) {
        read += line.size() + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) return false;  // the end of the header
        if (text::upper(line.substr(0, 11)) != "MESSAGE-ID:") continue;
        return text::trim(line.substr(11)) == wanted;
    }
    return false;
}

std::string quoted(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

// Whether an IMAP response completed with OK.
bool ok(const imap::IMAPParser::response& r) {
    return r.response_done() && r.response_done()->response_tagged() &&
           r.response_done()->response_tagged()->resp_cond_state()->status() ==
               imap::IMAPParser::resp_cond_state::OK;
}

}  // namespace

bool maildir_holds(const std::string& root, const std::string& folder, const std::string& id) {
    const std::string wanted = "<" + id + ">";
    for (const fs::path& dir : {fs::path(root) / folder, fs::path(root) / ("." + folder)}) {
        for (const char* sub : {"cur", "new"}) {
            std::error_code ec;
            for (fs::directory_iterator it(dir / sub, ec), end; !ec && it != end; it.increment(ec))
                if (it->is_regular_file(ec) && header_names(it->path(), wanted)) return true;
        }
    }
    return false;
}

bool imap_folder_holds(vmime::net::store& store, const std::string& folder, const std::string& id) {
    auto* s = dynamic_cast<imap::IMAPStore*>(&store);
    if (!s || !s->getConnection()) return false;
    auto c = s->getConnection();
    c->sendCommand(imap::IMAPCommand::createCommand("EXAMINE " + quoted(folder)));
    std::unique_ptr<imap::IMAPParser::response> examined(c->readResponse());
    if (!examined || !ok(*examined)) return false;
    c->sendCommand(imap::IMAPCommand::createCommand("SEARCH HEADER Message-ID " + quoted("<" + id + ">")));
    std::unique_ptr<imap::IMAPParser::response> found(c->readResponse());
    if (!found || !ok(*found)) return false;
    for (const auto* data : found->continue_req_or_response_data()) {
        const auto* rd = data->response_data();
        const auto* md = rd ? rd->mailbox_data() : nullptr;
        if (md && md->type() == imap::IMAPParser::mailbox_data::SEARCH && !md->search_nz_number_list().empty())
            return true;
    }
    return false;
}

}  // namespace velarion::mail::detail
