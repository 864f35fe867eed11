#include "spool/message.h"

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "delivery/delivery_request.h"
#include "delivery/sendmail.h"
#include "platform/paths.h"
#include "spool/message_rules.h"
#include "spool/prepare.h"
#include "spool/print_file.h"
#include "spool/spool_files.h"
#include "spool/unsent.h"
#include "startup/context.h"
#include "startup/run_log.h"

namespace fs = std::filesystem;

namespace velarion {

namespace {

constexpr int kMaxAttachments = 50;
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
    MessageJob(Context& ctx, const std::string& base)
        : ctx_(ctx), work_(paths::with_separator(paths::native(ctx.op.tempozip_dir))), base_(base) {}

    void run() {
        try {
            process();
        } catch (...) {
            const spool::ErrorInfo err = spool::current_error();
            ctx_.list.add(" " + err.description + " leggi_file_messaggio_error " +
                          std::to_string(err.number) + " " + std::to_string(step_));
            ctx_.list.refresh();
            keep();
        }
    }

private:
    void process() {
        // 1.
        step_ = 1;
        ctx_.trace("SONO IN leggi_file_messaggio");
        // 2.
        step_ = 2;
        ctx_.pre.page_section_end = 9999999;
        if (ctx_.list.size() > 50) flush_log(ctx_);
        ctx_.run.has_attachments = false;
        // 3.
        step_ = 3;
        prescan_body();
        // 4. to 7.
        step_ = 4;
        read_header();
        if (header_lines_ < kFixedHeaderLines) {
            ctx_.list.add(" Intestazione incompleta " + work_ + base_ + ".h righe " +
                          std::to_string(header_lines_));
            keep();
            return;
        }
        // 8. / 9.
        if (!ctx_.run.has_attachments && ctx_.run.fax) {
            step_ = 8;
            fax_body();
        } else {
            step_ = 9;
            body_text();
        }
        // 10.
        step_ = 10;
        if (!to_list_.empty()) req_.lsTo += ";" + to_list_;
        req_.lscc = copy_address_;
        if (!cc_list_.empty()) {
            req_.lscc = copy_address_.empty() ? cc_list_ : copy_address_ + ";" + cc_list_;
        }
        req_.plus_ccn = ccn_list_;
        // "acc:" = "Y": the transport gets no account, the stored settings stay.
        if (ctx_.sw.acc != "Y") {
            req_.login_email = ctx_.op.login_email;
            req_.pwd_email = ctx_.op.pwd_email;
        }
        // 11.
        if (ctx_.op.ParGenerali.find("PREPARA:") == std::string::npos) {
            step_ = 11;
            const bool delivered =
                ctx_.run.deliver ? ctx_.run.deliver(ctx_, req_) : sendmail(ctx_, req_);
            if (!delivered) keep();
        } else {
            step_ = 20;
            spool::prepare_message(ctx_, work_, base_, last_line_, step_);
        }
    }

    // 3. Body directives: extra header lines and recipients.
    void prescan_body() {
        const std::string body = work_ + base_ + ".b";
        if (!spool::is_file(body)) return;
        std::string extra;
        for (const auto& line : spool::read_lines(body)) {
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
        const std::string tail = spool::is_file(header) && fs::file_size(header) > 0
                                     ? read_last_byte(header)
                                     : "\n";
        std::ofstream out(header, std::ios::binary | std::ios::app);
        if (!out) throw spool::SpoolError(75, "Path/File access error " + header);
        if (tail != "\n") out << "\r\n";
        out << extra;
        if (!out) throw spool::SpoolError(57, "Device I/O error " + header);
    }

    static std::string read_last_byte(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        in.seekg(-1, std::ios::end);
        char c = 0;
        in.get(c);
        return std::string(1, c);
    }

    // 4. to 7. The fixed header lines and the attachment list.
    void read_header() {
        ctx_.run.fax = false;
        const std::string gateway = spool::fax_gateway(ctx_);
        const auto lines = spool::read_lines(work_ + base_ + ".h");
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
                    if (spool::names_fax_gateway(line, gateway)) ctx_.run.fax = true;
                    break;
                case 3: req_.lsFrom = line; break;
                case 4:
                    req_.lsTo = line;
                    if (spool::names_fax_gateway(line, gateway)) ctx_.run.fax = true;
                    break;
                case 5:
                    req_.lsObj = ctx_.op.ParGenerali.find("NORIF") != std::string::npos
                                     ? line
                                     : "RIF:" + req_.lsNumRef + " - " + line;
                    break;
                case 6:
                    ctx_.layout.style.name = line == "." ? "" : line;
                    first_attachment = line == "." ? 8 : 9;
                    break;
                case 7:
                    // 5. Delivery option.
                    step_ = 5;
                    req_.lsSend = spool::delivery_option(ctx_, line, req_.lsTo);
                    break;
                default:
                    if (n >= first_attachment) {
                        step_ = 6;
                        attachment(n - first_attachment + 1, line);
                    }
                    break;
            }
        }
        // 7.
        step_ = 7;
    }

    // 6. Attachment number k: listed, its content copied under its name,
    // and composed into a PDF when it is a print file.
    void attachment(int k, const std::string& name) {
        if (k > kMaxAttachments) throw spool::SpoolError(9, "Subscript out of range");
        req_.lsAttacchedFile[static_cast<std::size_t>(k)] = name;
        attachment_names_.push_back(name);
        ctx_.run.has_attachments = true;
        const std::string content = work_ + base_ + "." + std::to_string(k - 1);
        if (!spool::is_file(content)) return;
        if (!spool::is_safe_file_name(name)) {
            // The name would write outside the work directory (or is not a
            // file name): the content stays in its numbered copy.
            ctx_.list.add(" Nome allegato non ammesso, file non copiato: " + spool::printable(name));
            return;
        }
        // 6.1
        spool::copy_file(content, work_ + name);
        // 6.2
        if (spool::is_print_file(name)) {
            spool::remove_stale_outputs(work_, name.substr(0, name.size() - 4));
            spool::compose_print_file(ctx_, work_ + name, name);
        }
        // 6.3
        fs::remove(content);
    }

    // 8. A fax without attachments: its body is composed and sent as the PDF.
    void fax_body() {
        spool::remove_stale_outputs(work_, base_);
        const std::string body = work_ + base_ + ".b";
        if (spool::is_file(body)) spool::compose_print_file(ctx_, body, last_line_);
        req_.lvBody.clear();
        const std::string pdf = paths::resolve(work_ + base_ + ".PDF");
        if (!pdf.empty() && spool::is_file(pdf)) req_.lsAttacchedFile[1] = paths::file_name(pdf);
    }

    // 9. The body text: every line but the directives; an empty line as a blank.
    void body_text() {
        std::string body;
        for (const auto& line : spool::read_lines(work_ + base_ + ".b")) {
            if (is_directive(line)) continue;
            body += line.empty() ? " " : line;
            body += "\r\n";
        }
        req_.lvBody = std::move(body);
    }

    void keep() { spool::keep_unsent(ctx_, work_, base_, attachment_names_); }

    Context& ctx_;
    const std::string work_;
    const std::string base_;
    int step_ = 0;

    DeliveryRequest req_;
    std::string to_list_, cc_list_, ccn_list_;
    std::string copy_address_;
    std::string last_line_;
    int header_lines_ = 0;
    std::vector<std::string> attachment_names_;
};

}  // namespace

void leggi_file_messaggio(Context& ctx, const std::string& lsFile_origine) {
    MessageJob(ctx, lsFile_origine).run();
}

}  // namespace velarion
