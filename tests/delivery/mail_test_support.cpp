#include "mail_test_support.h"

#include "platform/process.h"

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
}

void MailContext::work_file(const std::string& name, const std::string& bytes) const { write_file(work + name, bytes); }

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

std::string describe_mime(const std::string& raw) {
    TempDir d;
    write_file(d / "m.eml", raw);
    write_file(d / "describe.py", R"PY(
import sys
from email import policy
from email.parser import BytesParser
m = BytesParser(policy=policy.default).parse(open(sys.argv[1], 'rb'))
print('subject:', m['subject'])
print('from:', m['from'])
print('to:', m['to'])
print('cc:', m['cc'])
print('bcc:', m['bcc'])
print('dnt:', m['disposition-notification-to'])
print('rcptto:', m['x-rcptto'])
body = m.get_body(preferencelist=('plain',))
print('body:', repr(body.get_content() if body else None))
for part in m.iter_attachments():
    print('attachment:', part.get_filename(), len(part.get_content()))
)PY");
    auto out = process::run_capture({"/usr/bin/python3", d / "describe.py", d / "m.eml"});
    return out ? *out : "python3 failed";
}

}  // namespace velarion::testing
