#include "mail_test_support.h"

#include <filesystem>

#include "delivery/attachments.h"

namespace fs = std::filesystem;

namespace velarion::testing {

MailContext::MailContext() {
    cfg.sw.ini = dir.path();
    work = dir / "tempozip/";
    cfg.op.tempozip_dir = work;
    cfg.op.EMailAddr = "ufficio@velarion.example";
    cfg.host.program_dir = std::string(VELARION_BIN_DIR) + "/";
    cfg.host.documents_dir = dir / "Documenti";
    cfg.derive();
    write_file(work + "note.txt", "");
}

void MailContext::write_mapi(const std::string& lines) const {
    write_file(dir / "velarion.ini", "[GLOBAL]\nTiming=1000\n[MAPI]\n" + lines);
    load_ini_keys(cfg);
}

void MailContext::work_file(const std::string& name, const std::string& bytes) const { write_file(work + name, bytes); }

void attach(const MailContext& m, DeliveryRequest& r, const std::string& entry) {
    MessageAttachment a = resolve_attachment(m.rt, entry, r.fax);
    locate_pdf(a);
    r.attachments.push_back(std::move(a));
}

DeliveryRequest sample_request() {
    DeliveryRequest r;
    r.lsObj = "Fattura n\xB0 12 - citt\xE0 di Forl\xEC";  // Windows-1252
    r.lsNumRef = "AB0000001234XYZ";
    r.lsTo = "mario.rossi@example.it;;anna.bianchi@example.it;";
    r.lscc = "contabilita@example.it";
    r.plus_ccn = "archivio@example.it";
    r.lsSend = "send";
    r.lvBody = "Gentile cliente,\r\nin allegato la fattura. Cordiali saluti \x80 1.000\r\n";
    return r;
}

DeliveryRequest request_with_attachments(MailContext& m) {
    m.work_file("000123.pdf", "%PDF-1.4 fattura");
    m.work_file("condizioni.doc", "condizioni generali");
    DeliveryRequest r = sample_request();
    attach(m, r, "000123.txt");
    attach(m, r, "condizioni.doc");
    return r;
}

std::vector<Draft> maildir_drafts(const std::string& root) {
    std::vector<Draft> out;
    std::error_code ec;
    if (!fs::exists(root)) return out;
    for (const auto& e : fs::recursive_directory_iterator(root, ec)) {
        if (!e.is_regular_file()) continue;
        const std::string parent = e.path().parent_path().filename().string();
        if ((parent == "cur" || parent == "new") && e.path().string().find("Drafts") != std::string::npos)
            out.push_back({e.path().filename().string(), read_file(e.path().string())});
    }
    return out;
}

std::string store_root(const MailContext& m) { return m.dir / "Documenti/Velarion/posta"; }

}  // namespace velarion::testing
