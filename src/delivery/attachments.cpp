#include "delivery/attachments.h"

#include "common/print_file_name.h"
#include "common/runtime.h"
#include "platform/paths.h"
#include "platform/process.h"
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

}  // namespace

std::string attachment_path(const Runtime& rt, const std::string& entry) {
    if (!paths::has_separator(entry)) return work_dir(rt) + entry;
    const std::string resolved = paths::resolve(entry);
    return resolved.empty() ? paths::native(entry) : resolved;
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
        if (!is_print_file(entry)) {
            msg.attachments.push_back({position, attachment_path(rt, entry)});
            ++position;
            continue;
        }
        const std::string base = entry.substr(0, entry.size() - 4);
        if (r.fax) {
            make_fax_zip(rt, base);
            msg.attachments.push_back({position, dir + base + ".zip"});
        } else {
            const std::string pdf = dir + base + ".pdf";
            if (check_pdf && !paths::exists(pdf)) {
                rt.list.add(" Non esiste l'allegato pdf  Non mando l'email");
                return false;
            }
            const std::string found = paths::resolve(pdf);
            msg.attachments.push_back({position, found.empty() ? pdf : found});
        }
        if (allegatxt) {
            ++position;
            msg.attachments.push_back({position, dir + entry});
        }
        ++position;
    }
    return true;
}

}  // namespace velarion
