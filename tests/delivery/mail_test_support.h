// Helpers of the delivery tests: a context with a configuration directory and
// a work directory, and a reading of a MIME message by Python's email parser.
#pragma once

#include <string>

#include "delivery/delivery_request.h"
#include "support/test_support.h"

namespace velarion::testing {

struct MailContext {
    MailContext();
    TempDir dir;
    TestContext t;
    Context& ctx = t.ctx;
    std::string work;  // the work directory, with its trailing "/"

    // Writes velarion.ini's section "MAPI" (key=value lines).
    void write_mapi(const std::string& lines) const;
    // A file in the work directory.
    void work_file(const std::string& name, const std::string& bytes) const;
};

// A request to two To, one Cc, one Bcc recipient with an accented subject.
DeliveryRequest sample_request();

// What a mail reader sees: "subject: ...", "to: ...", "cc: ...", "bcc: ...",
// "dnt: ..." (read receipt), "body: <repr>", "attachment: <name> <size>"
// lines, UTF-8, decoded by Python's email package.
std::string describe_mime(const std::string& raw);

}  // namespace velarion::testing
