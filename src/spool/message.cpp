#include "spool/message.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "common/run_log.h"
#include "common/runtime.h"
#include "delivery/attachments.h"
#include "delivery/delivery_request.h"
#include "pdf/crea_pdf.h"
#include "platform/os/paths.h"
#include "spool/message_rules.h"
#include "spool/prepare.h"
#include "spool/print_file.h"
#include "spool/spool_files.h"

namespace fs = std::filesystem;

namespace velarion {

namespace {

constexpr int kMaxAttachments = 50;
// Longer than any file name of the file system (or of a path to one): the
// attachment cannot be what the header names.
constexpr std::size_t kMaxAttachmentName = 1024;
constexpr std::size_t kMaxFileName = 255;
constexpr int kFixedHeaderLines = 7;

bool starts_with(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// Body lines that are directives, never body text.
bool is_directive(const std::string& line) {
    return starts_with(line, ".///A") || starts_with(line, ".///###D") ||
           starts_with(line, ".///###C") || starts_with(line, ".///###N");
}

// Adds an address to a ";"-separated list.
void add_address(std::string& list, const std::string& address) {
    if (!list.empty()) list += ';';
    list += address;
}

class MessageJob {
public:
    MessageJob(Runtime& rt, const MessageDelivery& deliver, const std::string& base, const MessageText& text)
        : rt_(rt), deliver_(deliver), work_(rt.cfg.work_dir), base_(base), text_(text) {
        layout_.set_attachment_finder([this](const std::string& name) { return attachment_file(name); });
    }

    MessageOutcome run() {
        try {
            process();
        } catch (const spool::TooLarge& e) {
            // Beyond the read limits: the message is kept, with the reason.
            rt_.list.add(" " + std::string(e.what()) + ", messaggio non inviato: " + base_);
            outcome_ = {Delivered::failed, e.what()};
        } catch (...) {
            const ErrorInfo err = current_error();
            const std::string line = " " + err.description + " leggi_file_messaggio_error " +
                                     std::to_string(err.number) + " " + std::to_string(step_);
            rt_.list.add(line);
            rt_.list.refresh();
            outcome_ = {Delivered::failed, line.substr(1)};
        }
        return {outcome_, attachment_names_, req_.lsSend};
    }

private:
    void process() {
        // Entered: the trace line.
        step_ = 1;
        rt_.trace("SONO IN leggi_file_messaggio");
        // No page-section end yet; a long activity list is written out first.
        step_ = 2;
        page_section_end_ = 9999999;
        if (rt_.list.size() > 50) flush_log(rt_);
        has_attachments_ = false;
        // The body's directives: extra header lines and recipients.
        step_ = 3;
        prescan_body();
        // The header's fixed lines and the attachments; a header without all
        // the fixed lines ends the message here.
        step_ = 4;
        read_header();
        if (header_lines_ < kFixedHeaderLines) {
            const std::string line = " Intestazione incompleta " + work_ + base_ + ".h righe " +
                                     std::to_string(header_lines_);
            rt_.list.add(line);
            outcome_ = {Delivered::failed, line.substr(1)};
            return;
        }
        // The body: a fax without attachments sends it composed as the PDF,
        // any other message as the text.
        if (!has_attachments_ && req_.fax) {
            step_ = 8;
            fax_body();
        } else {
            step_ = 9;
            body_text();
        }
        // The recipients the body added, the account and the compositions'
        // leftovers join the request.
        step_ = 10;
        if (!to_list_.empty()) req_.lsTo += ";" + to_list_;
        req_.lscc = copy_address_;
        if (!cc_list_.empty()) {
            req_.lscc = copy_address_.empty() ? cc_list_ : copy_address_ + ";" + cc_list_;
        }
        req_.plus_ccn = ccn_list_;
        // The account for the transport: blank with "acc:" = "Y", the stored settings stay.
        req_.login_email = rt_.cfg.account_login;
        req_.pwd_email = rt_.cfg.account_password;
        // What the compositions leave for the transport.
        req_.allegatxt = layout_.allegatxt();
        // An attachment that would be read from outside the installation's
        // folders: the message goes nowhere without it, it is kept.
        if (refused_) {
            outcome_ = {Delivered::failed, refused_reason_};
            return;
        }
        // An e-invoice that cannot go out as it should: the message is kept.
        if (!layout_.refusal().empty()) {
            outcome_ = {Delivered::failed, layout_.refusal()};
            return;
        }
        // Small spool files can make huge documents: beyond
        // "messaggio_max_mb" the message is kept, not sent.
        if (carried_bytes() > rt_.cfg.message_max_bytes) {
            const std::string reason =
                "Messaggio oltre " + std::to_string(rt_.cfg.message_max_bytes >> 20) + " MB (messaggio_max_mb)";
            rt_.list.add(" " + reason + ", messaggio non inviato: " + base_);
            outcome_ = {Delivered::failed, reason};
            return;
        }
        // Delivered by the transport, or handed on to the preparation folder
        // with "PREPARA:".
        if (!rt_.cfg.prepara) {
            step_ = 11;
            outcome_ = deliver_(req_);
        } else {
            step_ = 20;
            spool::prepare_message(rt_, work_, base_, last_line_, step_);
            outcome_ = Delivered::yes;
        }
    }

    // The bytes of the files the message would carry.
    std::uintmax_t carried_bytes() const {
        std::uintmax_t total = 0;
        for (const auto& a : req_.attachments) {
            std::error_code ec;
            const std::uintmax_t size = a.travelling().empty() ? 0 : fs::file_size(a.travelling(), ec);
            if (!ec) total += size;
        }
        return total;
    }

    // Body directives: extra header lines and recipients.
    void prescan_body() {
        const std::string body = work_ + base_ + ".b";
        if (text_.body) {
            body_lines_ = spool::body_lines(*text_.body);
        } else {
            if (text_.no_body || !spool::is_file(body)) return;
            body_lines_ = spool::read_body_lines(body);
        }
        std::string extra;
        for (const auto& line : *body_lines_) {
            if (starts_with(line, ".///A")) {
                extra += line.substr(5) + "\r\n";
            } else if (starts_with(line, ".///###D")) {
                add_address(to_list_, line.substr(8));
            } else if (starts_with(line, ".///###C")) {
                add_address(cc_list_, line.substr(8));
            } else if (starts_with(line, ".///###N")) {
                add_address(ccn_list_, line.substr(8));
            }
        }
        if (extra.empty()) return;
        const std::string header = work_ + base_ + ".h";
        // A header whose last line has no line end would swallow the first
        // extra line; it gets one first.
        std::string tail = "\n";
        if (text_.header)
            tail = text_.header->empty() ? "\n" : text_.header->substr(text_.header->size() - 1);
        else if (spool::is_file(header) && fs::file_size(header) > 0)
            tail = read_last_byte(header);
        const std::string added = (tail != "\n" ? "\r\n" : "") + extra;
        spool::append_file(header, added, work_);
        // The header read below is the work copy as it is now.
        if (text_.header) {
            header_ = *text_.header + added;
            text_.header = &*header_;
        }
    }

    static std::string read_last_byte(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        in.seekg(-1, std::ios::end);
        char c = 0;
        in.get(c);
        return std::string(1, c);
    }

    // The fixed header lines and the attachment list.
    void read_header() {
        req_.fax = false;
        const std::string gateway = spool::fax_gateway(rt_);
        const auto lines =
            text_.header ? spool::header_lines(*text_.header) : spool::read_header_lines(work_ + base_ + ".h");
        int first_attachment = 8;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const int n = static_cast<int>(i) + 1;
            const std::string& line = lines[i];
            header_lines_ = n;
            last_line_ = line;
            switch (n) {
                case 1: req_.lsNumRef = line; break;
                case 2:
                    if (line.find('@') != std::string::npos) copy_address_ = line;
                    if (spool::names_fax_gateway(line, gateway)) req_.fax = true;
                    break;
                case 3: req_.lsFrom = line; break;
                case 4:
                    req_.lsTo = line;
                    if (spool::names_fax_gateway(line, gateway)) req_.fax = true;
                    break;
                case 5:
                    req_.lsObj = rt_.cfg.norif ? line : "RIF:" + req_.lsNumRef + " - " + line;
                    break;
                case 6:
                    layout_.set_style_name(line == "." ? "" : line);
                    first_attachment = line == "." ? 8 : 9;
                    break;
                case 7:
                    // Delivery option.
                    step_ = 5;
                    req_.lsSend = spool::delivery_option(rt_, line, req_.lsTo);
                    break;
                default:
                    if (n >= first_attachment) {
                        step_ = 6;
                        attachment(n - first_attachment + 1, line);
                    }
                    break;
            }
        }
        // Every header line read.
        step_ = 7;
    }

    // Attachment number k: listed, its content copied under its name,
    // and composed into a PDF when it is a print file (zipped for the fax
    // gateway). The list the transports use is made here, once.
    void attachment(int k, const std::string& name) {
        if (k > kMaxAttachments) throw NumberedError(9, "Subscript out of range");
        attachment_names_.push_back(name);
        has_attachments_ = true;
        if (refused_) return;  // the message is kept as it is: nothing more is composed
        const bool too_long = name.size() > kMaxAttachmentName ||
                              (spool::is_safe_file_name(name) && name.size() > kMaxFileName);
        if (too_long) {
            rt_.list.add(" Nome di allegato troppo lungo (" + std::to_string(name.size()) +
                         " caratteri), messaggio non inviato: " + name.substr(0, 100) + "...");
            refused_ = true;
            refused_reason_ = "Nome di allegato troppo lungo";
            return;
        }
        MessageAttachment a = resolve_attachment(rt_, name, req_.fax);
        if (!attachment_allowed(rt_, a)) {
            rt_.list.add(" Allegato fuori dalle cartelle ammesse, messaggio non inviato: " + name);
            refused_ = true;
            return;
        }
        // The work directory holds other messages' copies and the agent's
        // own folders: the message reads only what it brought there.
        if (reads_foreign_work_file(rt_, a, own_content(k, name))) {
            rt_.list.add(" Allegato non ammesso (cartella di lavoro), messaggio non inviato: " + name);
            refused_ = true;
            refused_reason_ = "Allegato non ammesso (cartella di lavoro): " + name;
            return;
        }
        copy_and_compose(k, a);
        locate_pdf(a);
        if (!rt_.cfg.prepara) make_fax_zip(rt_, a);
        req_.attachments.push_back(std::move(a));
    }

    // True when the content file of attachment k is there to be copied under `name`.
    bool own_content(int k, const std::string& name) const {
        return spool::is_safe_file_name(name) && spool::is_file(work_ + base_ + "." + std::to_string(k - 1));
    }

    void copy_and_compose(int k, const MessageAttachment& a) {
        const std::string content = work_ + base_ + "." + std::to_string(k - 1);
        if (!spool::is_file(content)) return;
        if (!spool::is_safe_file_name(a.name)) {
            // The name would write outside the work directory (or is not a
            // file name): the content stays in its numbered copy.
            rt_.list.add(" Nome allegato non ammesso, file non copiato: " + a.name);
            return;
        }
        // The content under the attachment's own name: the numbered copy is
        // no longer needed, so it is renamed (a name that is the numbered
        // copy's own is copied onto itself and then goes, as it always did).
        const bool own_name = work_ + a.name == content;
        if (own_name)
            spool::copy_file(content, work_ + a.name, atomic_file::Sync::work_file);
        else
            take_in(content, work_ + a.name);
        copied_.insert(a.name);
        // A print file is composed into its PDF, once the outputs of an earlier
        // run are gone.
        if (a.print_file) {
            spool::remove_stale_outputs(work_, a.name.substr(0, a.name.size() - 4));
            spool::compose_print_file(rt_, layout_, work_ + a.name, a.name, page_section_end_);
        }
        if (own_name) fs::remove(content);
    }

    // The numbered copy renamed to the attachment's name, replacing what was
    // there (a link is replaced, never followed); a failure is said as the
    // copy it stands for.
    static void take_in(const std::string& content, const std::string& target) {
        std::error_code ec;
        fs::rename(content, target, ec);
        if (!ec) return;
        const int e = ec.value();
        const int code = e == ENOSPC || e == EDQUOT || e == ENOENT ? e
                         : e == EISDIR || e == ENOTEMPTY || e == EEXIST ? EINVAL
                                                                         : EIO;
        throw fs::filesystem_error("copy_file", content, target, std::error_code(code, std::generic_category()));
    }

    // The file of the attachment `name` of this message, for a "///X" line of
    // one of its print files: its numbered copy, or the copy under its name
    // once it was taken in; "" when the message has no such attachment.
    std::string attachment_file(const std::string& name) const {
        const auto lines = spool::read_lines(work_ + base_ + ".h");
        const std::size_t first = lines.size() >= 6 && lines[5] != "." ? 9 : 8;
        for (std::size_t n = first; n <= lines.size(); ++n) {
            if (lines[n - 1] != name) continue;
            const std::string content = work_ + base_ + "." + std::to_string(n - first);
            if (spool::is_file(content)) return content;
            if (copied_.count(name) && spool::is_file(work_ + name)) return work_ + name;
        }
        return "";
    }

    // A fax without attachments: its body is composed and sent as the PDF.
    void fax_body() {
        spool::remove_stale_outputs(work_, base_);
        const std::string body = work_ + base_ + ".b";
        if (spool::is_file(body)) spool::compose_print_file(rt_, layout_, body, last_line_, page_section_end_);
        req_.lvBody.clear();
        const std::string pdf = paths::resolve(work_ + base_ + ".PDF");
        if (!pdf.empty() && spool::is_file(pdf))
            req_.attachments.push_back(resolve_attachment(rt_, paths::file_name(pdf), req_.fax));
    }

    // The body text: every line but the directives; an empty line as a blank.
    void body_text() {
        std::string body;
        if (!body_lines_) body_lines_ = spool::read_body_lines(work_ + base_ + ".b");
        for (const auto& line : *body_lines_) {
            if (is_directive(line)) continue;
            body += line.empty() ? " " : line;
            body += "\r\n";
        }
        req_.lvBody = std::move(body);
    }

    Runtime& rt_;
    const MessageDelivery& deliver_;
    const std::string work_;
    const std::string base_;
    // What the scan read (the header pointing at header_ once lines were added to it).
    MessageText text_;
    std::optional<std::string> header_;
    std::optional<std::vector<std::string>> body_lines_;  // the body's lines, read once
    // The stage named in the "leggi_file_messaggio_error" line.
    int step_ = 0;

    DeliveryRequest req_;
    DeliveryOutcome outcome_;
    std::string to_list_, cc_list_, ccn_list_;
    std::string copy_address_;
    std::string last_line_;
    int header_lines_ = 0;
    std::vector<std::string> attachment_names_;
    std::set<std::string> copied_;  // the attachment names this message copied into the work directory
    bool has_attachments_ = false;  // the message has attachment lines
    bool refused_ = false;          // an attachment lies outside the installation's folders
    std::string refused_reason_ = "Allegato fuori dalle cartelle ammesse";
    long page_section_end_ = 9999999;  // "/PAGE" section end, carried from print file to print file
    MessageLayout layout_;          // the message's layout state, dropped with the message
};

}  // namespace

MessageOutcome leggi_file_messaggio(Runtime& rt, const MessageDelivery& deliver, const std::string& lsFile_origine,
                                    const MessageText& text) {
    return MessageJob(rt, deliver, lsFile_origine, text).run();
}

}  // namespace velarion
