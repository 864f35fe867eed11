#include "delivery/attachments.h"

#include <memory>

#include "common/print_file_name.h"
#include "common/runtime.h"
#include "platform/os/paths.h"
#include "platform/os/process.h"
#include "platform/os/safe_path.h"

namespace velarion {

namespace {

const std::string& work_dir(const Runtime& rt) { return rt.cfg.work_dir; }

// The file an entry that is no print file names.
std::string entry_path(const Runtime& rt, const std::string& entry) {
    const std::string native = paths::native(entry);
    if (!paths::has_separator(entry)) return work_dir(rt) + entry;
    if (!native.empty() && native[0] == '/') {
        const std::string resolved = paths::resolve(native);
        return resolved.empty() ? native : resolved;
    }
    const std::string resolved = paths::resolve(work_dir(rt) + native);
    return resolved.empty() ? work_dir(rt) + native : resolved;
}

}  // namespace

MessageAttachment resolve_attachment(const Runtime& rt, const std::string& entry, bool fax) {
    MessageAttachment a;
    a.name = entry;
    a.print_file = is_print_file(entry);
    if (!a.print_file) {
        a.path = entry_path(rt, entry);
        return a;
    }
    const std::string stem = work_dir(rt) + entry.substr(0, entry.size() - 4);
    a.path = work_dir(rt) + entry;
    a.pdf = stem + ".pdf";
    a.fax_zip = fax;
    if (fax) a.zip = stem + ".zip";
    return a;
}

bool attachment_allowed(const Runtime& rt, const MessageAttachment& a) {
    // A print file is composed in the work directory under its own name.
    if (a.print_file) return is_safe_file_name(a.name);
    return safe_path::is_below(a.path, rt.cfg.read_roots);
}

bool reads_foreign_work_file(const Runtime& rt, const MessageAttachment& a, bool own) {
    const std::string work = safe_path::real_location(work_dir(rt));
    if (work.empty()) return false;
    // The other folders spool input may read stay readable where they lie inside the work directory.
    std::vector<std::string> others;
    for (const auto& root : rt.cfg.read_roots)
        if (safe_path::real_location(root) != work) others.push_back(root);
    std::vector<std::string> files{a.path};
    if (a.print_file) files.push_back(a.pdf);
    for (const auto& f : files) {
        const std::string real = safe_path::real_location(f);
        if (real.size() <= work.size() + 1 || real.compare(0, work.size(), work) != 0 || real[work.size()] != '/')
            continue;
        const bool in_subfolder = real.find('/', work.size() + 1) != std::string::npos;
        // A message's own file directly in the work folder is allowed whether it is there yet
        // or not: no need for the case-blind look-up, which lists the whole folder.
        if (!in_subfolder && own) continue;
        if (safe_path::is_below(real, others) || !paths::exists(real)) continue;
        return true;  // below a folder of the agent's, or a file the message did not bring
    }
    return false;
}

void locate_pdf(MessageAttachment& a) {
    if (!a.print_file) return;
    const std::string found = paths::resolve(a.pdf);
    if (!found.empty()) a.pdf = found;
}

void make_fax_zip(const Runtime& rt, const MessageAttachment& a) {
    if (!a.fax_zip) return;
    const int rc = process::run_and_wait(std::vector<std::string>{rt.cfg.host.program_dir + "pkzip", a.zip, a.pdf});
    if (!paths::exists(a.zip) || rc == -1) rt.list.add(" Errore PKZIP " + rt.cfg.work_key);
}

int count_attachment_positions(const DeliveryRequest& r) {
    int count = 0;
    for (const auto& a : r.attachments) {
        ++count;
        if (a.print_file && a.name.size() == 10 && r.allegatxt) ++count;
    }
    return count;
}

std::string note_with_positions(int positions, const std::string& body) {
    return std::string(static_cast<std::size_t>(positions), ' ') + "\r\n" + body;
}

OpenedAttachments open_attachments(const Runtime& rt, const DeliveryRequest& r, MissingPdf missing_pdf) {
    OpenedAttachments out;
    int position = 0;
    // Adds the file at path, opened below the installation's folders so that
    // the mail layer reads what is opened here; false when it lies outside.
    const auto add = [&](const MessageAttachment& a, const std::string& path) {
        safe_path::Opened opened = safe_path::open_below(path, rt.cfg.read_roots);
        // The agent's own folders of the work directory (a run log made since the message was read).
        MessageAttachment at = a;
        at.path = path;
        at.print_file = false;
        if (opened.status == safe_path::Status::ok && reads_foreign_work_file(rt, at, true))
            opened.status = safe_path::Status::refused;
        if (opened.status == safe_path::Status::refused) {
            rt.list.add(" Allegato fuori dalle cartelle ammesse, messaggio non inviato: " + a.name);
            out.stop = DeliveryOutcome{Delivered::failed, "Allegato fuori dalle cartelle ammesse: " + a.name};
            return false;
        }
        if (opened.status == safe_path::Status::missing && a.print_file && !a.fax_zip && path == a.pdf &&
            missing_pdf == MissingPdf::stop) {
            rt.list.add(" Non esiste l'allegato pdf  Non mando l'email");
            out.stop = DeliveryOutcome{Delivered::failed, "Non esiste l'allegato pdf " + a.pdf};
            return false;
        }
        out.files.push_back({position, path, std::make_shared<safe_path::Fd>(std::move(opened.fd))});
        return true;
    };
    for (const auto& a : r.attachments) {
        if (!add(a, a.travelling())) break;
        if (a.print_file && r.allegatxt) {
            ++position;
            if (!add(a, a.path)) break;
        }
        ++position;
    }
    if (out.stop) out.files.clear();
    return out;
}

}  // namespace velarion
