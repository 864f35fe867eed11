#include "platform/mail/delivery_report.h"

#include <cctype>
#include <vmime/vmime.hpp>

#include "platform/mail/vmime_support.h"
#include "platform/os/text_encoding.h"

namespace velarion::mail {

namespace {

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string trim(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

bool valid_utf8(const std::string& s) {
    for (std::size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        const std::size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (len == 0 || i + len > s.size()) return false;
        for (std::size_t k = 1; k < len; ++k)
            if ((static_cast<unsigned char>(s[i + k]) >> 6) != 2) return false;
        i += len;
    }
    return true;
}

// A field's text as the agent shows it: one line, UTF-8 (a report in another
// charset is read as Windows-1252), at most `limit` bytes.
std::string clean(const std::string& raw, std::size_t limit) {
    std::string s;
    for (char c : raw) s += static_cast<unsigned char>(c) < 0x20 || c == 0x7f ? ' ' : c;
    if (!valid_utf8(s)) s = text::cp1252_to_utf8(s);
    s = trim(s);
    if (s.size() > limit) {
        s.resize(limit);
        while (!s.empty() && (static_cast<unsigned char>(s.back()) & 0xC0) == 0x80) s.pop_back();
        if (!s.empty() && static_cast<unsigned char>(s.back()) >= 0xC0) s.pop_back();
    }
    return s;
}

// "rfc822; a@b" -> "a@b"; "dns; mx.example" -> "mx.example".
std::string without_type(const std::string& v) {
    const auto semi = v.find(';');
    return trim(semi == std::string::npos ? v : v.substr(semi + 1));
}

// xtext (RFC 3461): "+XX" is the byte XX.
std::string from_xtext(const std::string& v) {
    std::string out;
    for (std::size_t i = 0; i < v.size(); ++i) {
        if (v[i] == '+' && i + 2 < v.size() && std::isxdigit(static_cast<unsigned char>(v[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(v[i + 2]))) {
            out += static_cast<char>(std::stoi(v.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += v[i];
        }
    }
    return out;
}

using Fields = std::vector<std::pair<std::string, std::string>>;  // lower-case name, value

// The blocks of a delivery-status body (RFC 3464 section 2.1): groups of
// header-style fields separated by blank lines, continuation lines joined.
// The fields are simple enough to read here; the library has no reader for them.
std::vector<Fields> status_blocks(const std::string& body, const ReportLimits& limits, std::string& problem) {
    std::vector<Fields> blocks(1);
    std::size_t start = 0;
    while (start < body.size()) {
        std::size_t end = body.find('\n', start);
        if (end == std::string::npos) end = body.size();
        std::string line = body.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (trim(line).empty()) {
            if (!blocks.back().empty()) blocks.emplace_back();
            if (blocks.size() > limits.max_recipients + 2) {
                problem = "troppi destinatari nel rapporto";
                return {};
            }
            continue;
        }
        if ((line[0] == ' ' || line[0] == '\t') && !blocks.back().empty()) {
            std::string& v = blocks.back().back().second;
            if (v.size() + line.size() > limits.max_field) {
                problem = "campo del rapporto troppo lungo";
                return {};
            }
            v += " " + trim(line);
            continue;
        }
        const auto colon = line.find(':');
        if (colon == std::string::npos || colon == 0) continue;  // not a field: skipped
        if (line.size() > limits.max_field) {
            problem = "campo del rapporto troppo lungo";
            return {};
        }
        blocks.back().emplace_back(lower(trim(line.substr(0, colon))), trim(line.substr(colon + 1)));
    }
    if (blocks.back().empty()) blocks.pop_back();
    return blocks;
}

std::string field(const Fields& f, const std::string& name) {
    for (const auto& [n, v] : f)
        if (n == name) return v;
    return "";
}

std::string contents_of(const vmime::shared_ptr<const vmime::bodyPart>& part, std::size_t limit) {
    std::string out;
    vmime::utility::outputStreamStringAdapter os(out);
    part->getBody()->getContents()->extract(os);
    if (out.size() > limit) out.resize(limit);
    return out;
}

vmime::mediaType type_of(const vmime::shared_ptr<const vmime::bodyPart>& part) {
    const auto h = part->getHeader();
    if (!h->hasField(vmime::fields::CONTENT_TYPE)) return vmime::mediaType("text", "plain");
    const auto v = h->findFieldValue<vmime::mediaType>(vmime::fields::CONTENT_TYPE);
    return v ? *v : vmime::mediaType("text", "plain");
}

struct Found {
    std::string status;   // the delivery-status body
    std::string headers;  // the returned message or its headers
    int parts = 0;
};

void walk(const vmime::shared_ptr<const vmime::bodyPart>& part, int depth, const ReportLimits& limits, Found& f,
          std::string& problem) {
    if (!problem.empty()) return;
    if (++f.parts > limits.max_parts) {
        problem = "troppe parti MIME";
        return;
    }
    if (depth > limits.max_depth) {
        problem = "parti MIME annidate troppo in profondita'";
        return;
    }
    const vmime::mediaType t = type_of(part);
    const std::string type = lower(t.getType()), sub = lower(t.getSubType());
    if (type == "multipart") {
        const auto body = part->getBody();
        for (std::size_t i = 0; i < body->getPartCount() && problem.empty(); ++i)
            walk(body->getPartAt(i), depth + 1, limits, f, problem);
        return;
    }
    if (type == "message" && (sub == "delivery-status" || sub == "global-delivery-status") && f.status.empty())
        f.status = contents_of(part, limits.max_bytes);
    else if (((type == "message" && (sub == "rfc822" || sub == "global" || sub == "global-headers")) ||
              (type == "text" && sub == "rfc822-headers")) &&
             f.headers.empty())
        f.headers = contents_of(part, 256 * 1024);
}

// The Message-ID of a returned message's header.
std::string returned_message_id(const std::string& text) {
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) break;  // the end of the header
        if (lower(line.substr(0, 11)) != "message-id:") continue;
        std::string v = trim(line.substr(11));
        // Folded onto the next line.
        if (v.empty() && start < text.size() && (text[start] == ' ' || text[start] == '\t')) {
            end = text.find('\n', start);
            v = trim(text.substr(start, (end == std::string::npos ? text.size() : end) - start));
        }
        const auto lt = v.find('<'), gt = v.find('>', lt == std::string::npos ? 0 : lt);
        if (lt != std::string::npos && gt != std::string::npos) v = v.substr(lt + 1, gt - lt - 1);
        return clean(v, 998);
    }
    return "";
}

// A count of a text's MIME part headers, case ignored: bounds the nesting
// before the library follows it (a message of thousands of nested parts
// would take its parser that deep).
int content_types(const std::string& raw, int stop_at) {
    int n = 0;
    const std::string lowered = lower(raw);
    for (std::size_t at = lowered.find("content-type:"); at != std::string::npos && n <= stop_at;
         at = lowered.find("content-type:", at + 1))
        ++n;
    return n;
}

}  // namespace

ReportReading read_delivery_report(const std::string& raw, DeliveryReport& out, std::string& problem,
                                   const ReportLimits& limits) {
    out = {};
    problem.clear();
    if (raw.size() > limits.max_bytes) {
        problem = "messaggio troppo grande (" + std::to_string(raw.size()) + " byte)";
        return ReportReading::refused;
    }
    // Only the top header decides whether this is a report: read it alone first.
    const auto header_end = raw.find("\n\n") != std::string::npos ? raw.find("\n\n") : raw.find("\r\n\r\n");
    const std::string head = lower(raw.substr(0, header_end == std::string::npos ? raw.size() : header_end));
    if (head.find("multipart/report") == std::string::npos || head.find("delivery-status") == std::string::npos)
        return ReportReading::not_report;
    if (content_types(raw, limits.max_parts * 2) > limits.max_parts * 2) {
        problem = "troppe parti MIME";
        return ReportReading::refused;
    }
    try {
        detail::init_platform();
        auto msg = vmime::make_shared<vmime::message>();
        msg->parse(raw);
        const vmime::mediaType top = type_of(msg);
        if (lower(top.getType()) != "multipart" || lower(top.getSubType()) != "report") return ReportReading::not_report;
        Found f;
        walk(msg, 0, limits, f, problem);
        if (!problem.empty()) return ReportReading::refused;
        if (f.status.empty()) {
            problem = "nessuna parte message/delivery-status";
            return ReportReading::refused;
        }
        const auto blocks = status_blocks(f.status, limits, problem);
        if (!problem.empty()) return ReportReading::refused;
        if (blocks.size() < 2) {
            problem = "nessun destinatario nel rapporto";
            return ReportReading::refused;
        }
        const Fields& per_message = blocks[0];
        out.envelope_id = clean(from_xtext(field(per_message, "original-envelope-id")), 200);
        out.reporting_mta = clean(without_type(field(per_message, "reporting-mta")), 255);
        out.arrival_date = clean(field(per_message, "arrival-date"), 100);
        if (out.arrival_date.empty() && msg->getHeader()->hasField(vmime::fields::DATE))
            out.arrival_date = clean(msg->getHeader()->findField(vmime::fields::DATE)->getValue()->generate(), 100);
        out.message_id = returned_message_id(f.headers);
        for (std::size_t i = 1; i < blocks.size(); ++i) {
            const Fields& r = blocks[i];
            RecipientReport rr;
            rr.recipient = clean(without_type(field(r, "final-recipient")), 320);
            if (rr.recipient.empty()) rr.recipient = clean(without_type(field(r, "original-recipient")), 320);
            rr.action = lower(clean(field(r, "action"), 20));
            rr.status = clean(field(r, "status"), 20);
            // "5.1.1 (Bad destination mailbox)": the code alone.
            if (const auto blank = rr.status.find(' '); blank != std::string::npos) rr.status.resize(blank);
            rr.diagnostic = clean(without_type(field(r, "diagnostic-code")), limits.max_field);
            rr.remote_mta = clean(without_type(field(r, "remote-mta")), 255);
            if (rr.recipient.empty() || rr.action.empty()) continue;  // not a recipient's block
            out.recipients.push_back(std::move(rr));
        }
        if (out.recipients.empty()) {
            problem = "nessun destinatario nel rapporto";
            return ReportReading::refused;
        }
        return ReportReading::report;
    } catch (const std::exception& e) {
        problem = std::string("rapporto illeggibile: ") + e.what();
        return ReportReading::refused;
    }
}

}  // namespace velarion::mail
