// The delivery request: what message processing builds and the transports
// receive. Its attachments are resolved once, when the message is read: the
// transports open the files it names and decide nothing more about them.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace velarion {

// One attachment of a message, as the header named it and as it travels.
struct MessageAttachment {
    std::string name;         // the header's entry as written (activity lines name it)
    std::string path;         // the file it names: an ordinary file, or the print file in the work directory
    bool print_file = false;  // a print file travels as its PDF (or zip archive), never as itself
    std::string pdf;          // a print file's PDF in the work directory, where it was composed
    bool fax_zip = false;     // a print file for the fax gateway travels as the zip archive of its PDF
    std::string zip;          // that archive, beside the PDF

    // The file that travels in the entry's place: the file itself, the
    // print file's PDF or, for the fax gateway, its zip archive.
    const std::string& travelling() const {
        if (!print_file) return path;
        return fax_zip ? zip : pdf;
    }
};

struct DeliveryRequest {
    std::string lsObj;     // subject
    std::string lsNumRef;  // reference
    std::string lsFrom;    // sender
    std::string lsTo;      // recipients, ";"-separated
    std::string lsSend;    // delivery option as written ("SEND", "SAVE", ...)
    std::string lvBody;    // body text
    std::vector<MessageAttachment> attachments;  // in header order, at most 50
    std::string lscc;      // copy recipients
    std::string plus_ccn;  // blind-copy recipients

    // Mail-account credentials for the transport ("login_email", "pwd_email").
    // Message processing leaves them empty when "acc:" is "Y"; the operator's
    // stored settings are never blanked.
    std::string login_email;
    std::string pwd_email;

    // What message processing learnt while composing the print files.
    bool fax = false;        // a recipient names the fax gateway: print files travel as zip archives
    bool allegatxt = false;  // the style asks for each print file beside its PDF ("allegatxt" "y")

    // The message's own identity, the same at every try of it (the queue's
    // record keeps it): the Message-ID without brackets, whose part before
    // "@" is also the envelope id asked back in delivery reports.
    std::string message_id;
    // A try before may have stored its draft without hearing so.
    bool maybe_stored = false;
    // Set by the spool scan, which must deliver each message once. The
    // transport calls on_data_end once the whole message has been written
    // and just before its end is marked (from then on it may be delivered
    // although no answer comes), and on_accepted the moment the server or
    // store has accepted it, before any activity line. Neither throws.
    std::function<void()> on_data_end;
    std::function<void()> on_accepted;
    void data_end() const {
        if (on_data_end) on_data_end();
    }
    void accepted() const {
        if (on_accepted) on_accepted();
    }

    // The delivery option is "save" in any case: kept as a draft, not sent.
    bool save() const {
        if (lsSend.size() != 4) return false;
        for (std::size_t i = 0; i < 4; ++i)
            if ((lsSend[i] | 0x20) != "save"[i]) return false;
        return true;
    }
};

}  // namespace velarion
