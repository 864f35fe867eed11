// What stands in for Outlook's automation interface: the mail layer. The
// running Outlook is an open mail-layer session of this process; starting
// Outlook opens and signs on to one (for the classes of Outlook 2003 to 2013).
// A mail item is filled field by field, then kept in the store's drafts
// folder (Save) or handed to its transport (Send). Failures arrive as
// NumberedError, with the automation error numbers where Outlook has them.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/mail/mail.h"

namespace velarion::outlook {

// "ActiveX component can't create object": no running Outlook, or none started.
inline constexpr int kCannotCreate = 429;
// "Object variable or With block variable not set": no Outlook object.
inline constexpr int kNoObject = 91;

// The item's body format values.
inline constexpr int olFormatPlain = 1;
inline constexpr int olFormatHTML = 2;

class MailItem {
public:
    explicit MailItem(mail::Session& session) : session_(session) {}

    int bodyformat = olFormatPlain;  // kept; the body goes out as plain text either way
    std::string To;                  // recipients as one text, separated by ";"
    std::string CC;
    std::string BCC;  // in the envelope only, never in a header of the sent message
    std::string subject;
    std::string body;
    bool ReadReceiptRequested = false;

    class AttachmentList {
    public:
        // One attachment: a file that must exist (else NumberedError 32011).
        void Add(const std::string& path);
        // One attachment the caller opened: the mail layer reads through the
        // open file; an empty handle is a missing file (32011).
        void Add(const std::string& path, std::shared_ptr<const safe_path::Fd> file);
        const std::vector<mail::Attachment>& files() const { return files_; }

    private:
        std::vector<mail::Attachment> files_;
    };
    AttachmentList Attachments;

    void Save();  // into the drafts folder of the store (signed on first when it is not)
    void Send();  // through the transport

private:
    mail::Message message() const;

    mail::Session& session_;
};

class Application {
public:
    // The running Outlook: the session in slot, once one was started.
    // NumberedError kCannotCreate when there is none.
    static Application GetObject(std::unique_ptr<mail::Session>& slot);
    // Starts the Outlook of a class ("Outlook.application.11" to ".15"): a
    // session of the profile kept in slot, signed on with the profile's own
    // credentials when sign_on is set (the store is needed: an item to be
    // saved); sending needs no store. Another class: kCannotCreate. A failed
    // sign-on raises its own error.
    static Application CreateObject(const std::string& class_name, std::unique_ptr<mail::Session>& slot,
                                    const mail::Profile& profile, bool sign_on = true);

    // A new mail item (type 0).
    MailItem createitem(int type) const;

private:
    explicit Application(mail::Session& session) : session_(&session) {}

    mail::Session* session_;
};

// The class name of an Outlook version ("2013": "Outlook.application.15",
// "2010": ".14", "2007": ".12", "2003": ".11"); "" for any other.
std::string class_for_version(const std::string& version);

}  // namespace velarion::outlook
