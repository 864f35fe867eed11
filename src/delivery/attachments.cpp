#include "delivery/attachments.h"

#include <memory>

#include "common/print_file_name.h"
#include "common/runtime.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/safe_path.h"
#include "platform/text_encoding.h"

namespace velarion {

namespace {

bool ends_txt(const std::string& entry) {
    return entry.size() >= 4 && text::lower(entry.substr(entry.size() - 4)) == ".txt";
}

const std::string& work_dir(const Runtime& rt) { return rt.cfg.work_dir; }

// Fax gateway: the PDF travels as a zip archive made by pkzip (archive path,
// then file path).
void make_fax_zip(const Runtime& rt, const std::string& base) {
    const std::string pdf = work_dir(rt) + base + ".pdf";
    const std::string zip = pdf.substr(0, pdf.size() - 3) + "zip";
    const int rc = process::run_and_wait(std::vector<std::string>{rt.cfg.host.program_dir + "pkzip", zip, pdf});
    if (!paths::exists(zip) || rc == -1) rt.list.add(" Errore PKZIP " + rt.cfg.op.tempozip_dir);
}

void refused_line(const Runtime& rt, const std::string& entry) {
    rt.list.add(" Allegato fuori dalle cartelle ammesse, messaggio non inviato: " + entry);
}

// Adds the file at path, opened below the installation's folders so that the
// mail layer reads what was checked. False (after the activity line) when it
// lies outside them; a missing file is left for the mail layer to report.
bool attach(const Runtime& rt, mail::Message& msg, int position, const std::string& path, const std::string& entry) {
    safe_path::Opened opened = safe_path::open_below(path, rt.cfg.read_roots);
    if (opened.status == safe_path::Status::refused) {
        refused_line(rt, entry);
        return false;
    }
    msg.attachments.push_back({position, path, std::make_shared<safe_path::Fd>(std::move(opened.fd))});
    return true;
}

}  // namespace

std::string attachment_path(const Runtime& rt, const std::string& entry) {
    const std::string native = paths::native(entry);
    if (!paths::has_separator(entry)) return work_dir(rt) + entry;
    if (!native.empty() && native[0] == '/') {
        const std::string resolved = paths::resolve(native);
        return resolved.empty() ? native : resolved;
    }
    const std::string resolved = paths::resolve(work_dir(rt) + native);
    return resolved.empty() ? work_dir(rt) + native : resolved;
}

bool attachment_allowed(const Runtime& rt, const std::string& entry) {
    // A print file is composed in the work directory under its own name.
    if (is_print_file(entry)) return is_safe_file_name(entry);
    return safe_path::is_below(attachment_path(rt, entry), rt.cfg.read_roots);
}

bool check_attachment(const Runtime& rt, const std::string& entry) {
    if (attachment_allowed(rt, entry)) return true;
    refused_line(rt, entry);
    return false;
}

bool check_attachment_file(const Runtime& rt, const std::string& path, const std::string& entry) {
    if (safe_path::is_below(path, rt.cfg.read_roots)) return true;
    refused_line(rt, entry);
    return false;
}

int count_attachment_positions(const DeliveryRequest& r, bool allegatxt) {
    int count = 0;
    for (const auto& entry : r.lsAttacchedFile) {
        if (entry.empty()) continue;
        ++count;
        if (ends_txt(entry) && entry.size() == 10 && allegatxt) ++count;
    }
    return count;
}

std::string note_with_positions(int positions, const std::string& body) {
    return std::string(static_cast<std::size_t>(positions), ' ') + "\r\n" + body;
}

bool add_attachments(const Runtime& rt, const DeliveryRequest& r, mail::Message& msg, bool check_pdf) {
    const bool allegatxt = r.allegatxt;
    const std::string& dir = work_dir(rt);
    int position = 0;
    for (const auto& entry : r.lsAttacchedFile) {
        if (entry.empty()) continue;
        if (!check_attachment(rt, entry)) return false;
        if (!is_print_file(entry)) {
            if (!attach(rt, msg, position, attachment_path(rt, entry), entry)) return false;
            ++position;
            continue;
        }
        const std::string base = entry.substr(0, entry.size() - 4);
        if (r.fax) {
            make_fax_zip(rt, base);
            if (!attach(rt, msg, position, dir + base + ".zip", entry)) return false;
        } else {
            const std::string pdf = dir + base + ".pdf";
            if (check_pdf && !paths::exists(pdf)) {
                rt.list.add(" Non esiste l'allegato pdf  Non mando l'email");
                return false;
            }
            const std::string found = paths::resolve(pdf);
            if (!attach(rt, msg, position, found.empty() ? pdf : found, entry)) return false;
        }
        if (allegatxt) {
            ++position;
            if (!attach(rt, msg, position, dir + entry, entry)) return false;
        }
        ++position;
    }
    return true;
}

}  // namespace velarion
