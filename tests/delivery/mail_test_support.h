// Helpers of the delivery tests: an agent with a configuration directory and
// a work directory.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "delivery/delivery_request.h"
#include "delivery/sendmail.h"
#include "support/mail_servers.h"
#include "support/test_support.h"

namespace velarion::testing {

struct MailContext {
    MailContext();
    TempDir dir;
    TestContext t;
    Settings& cfg = t.cfg;
    ActivityList& list = t.list;
    RecordingView& view = t.view;
    Runtime& rt = t.rt;
    // What a logon failure runs; without it Check1 is ticked on the view.
    std::function<void()> on_switch_off;
    Dispatcher dispatcher{rt, [this] {
                              if (on_switch_off)
                                  on_switch_off();
                              else
                                  view.set_check(true);
                          }};
    std::string work;  // the work directory, with its trailing "/"

    // Writes velarion.ini's section "MAPI" (key=value lines) and loads it.
    void write_mapi(const std::string& lines) const;
    // A file in the work directory.
    void work_file(const std::string& name, const std::string& bytes) const;
};

// Adds an attachment entry to the request as message processing resolves
// it (after composing, for a print file).
void attach(const MailContext& m, DeliveryRequest& r, const std::string& entry);

// A request to two To, one Cc, one Bcc recipient with an accented subject.
DeliveryRequest sample_request();

// The sample request with a print file (its PDF made: "000123.pdf", 16
// bytes) and an ordinary attachment ("condizioni.doc", 19 bytes).
DeliveryRequest request_with_attachments(MailContext& m);

struct Draft {
    std::string file;  // the maildir file name, with its flags
    std::string raw;
};

// The messages of the drafts folder of a maildir store, whatever its layout.
std::vector<Draft> maildir_drafts(const std::string& root);

// The folder of the default maildir store of a MailContext.
std::string store_root(const MailContext& m);

}  // namespace velarion::testing
