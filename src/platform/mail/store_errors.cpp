#include "platform/mail/store_errors.h"

#include <cerrno>
#include <cstring>

#include "platform/os/text_encoding.h"

namespace velarion::mail::detail {

namespace {

class LastLine final : public vmime::net::tracer {
public:
    explicit LastLine(std::shared_ptr<std::string> last) : last_(std::move(last)) {}
    void traceSend(const vmime::string&) override {}
    void traceReceive(const vmime::string& line) override {
        // A reply line is short; a message's text is never kept whole.
        *last_ = line.substr(0, 1000);
    }

private:
    std::shared_ptr<std::string> last_;
};

bool has_code(const std::string& upper_reply, const char* code) {
    return upper_reply.find(std::string("[") + code) != std::string::npos;
}

}  // namespace

vmime::shared_ptr<vmime::net::tracer> ReplyLog::create(vmime::shared_ptr<vmime::net::service>, const int) {
    return vmime::make_shared<LastLine>(last_);
}

std::string ReplyLog::last_reply() const {
    std::string line = text::trim(*last_);
    // "a007 NO [OVERQUOTA] ...": the tag means nothing to the reader.
    const auto blank = line.find(' ');
    if (blank != std::string::npos && line[0] != '*' && line[0] != '+') line = line.substr(blank + 1);
    return line;
}

std::string ReplyLog::last_line() const { return text::trim(*last_); }

Retry imap_refusal_retry(const std::string& reply) {
    const std::string up = text::upper(reply);
    if (has_code(up, "OVERQUOTA") || has_code(up, "LIMIT")) return Retry::no_room;
    if (has_code(up, "UNAVAILABLE") || has_code(up, "SERVERBUG") || has_code(up, "INUSE") || has_code(up, "ALERT"))
        return Retry::server_down;
    return Retry::never;
}

bool imap_login_unavailable(const std::string& reply) {
    const std::string up = text::upper(reply);
    return has_code(up, "UNAVAILABLE") || has_code(up, "SERVERBUG");
}

Retry file_error_retry(const std::string& text) {
    if (text.find("ENOSPC") != std::string::npos || text.find(std::strerror(ENOSPC)) != std::string::npos ||
        text.find(std::strerror(EDQUOT)) != std::string::npos)
        return Retry::no_room;
    return Retry::never;
}

}  // namespace velarion::mail::detail
