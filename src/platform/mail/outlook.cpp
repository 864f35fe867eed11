#include "platform/mail/outlook.h"

#include <algorithm>
#include <filesystem>

#include "platform/os/text_encoding.h"
#include "platform/os/text_list.h"

namespace velarion::outlook {

namespace {

// The non-empty entries of a ";"-separated recipient text.
void add_list(mail::Message& m, const std::string& list, mail::RecipType type) {
    for (auto& address : text::entries(list, ';')) m.recipients.push_back({type, std::move(address)});
}

}  // namespace

void MailItem::AttachmentList::Add(const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        throw NumberedError(mail::kAttachmentNotFound, "Allegato non trovato: " + path);
    files_.push_back({static_cast<int>(files_.size()), path, nullptr});
}

void MailItem::AttachmentList::Add(const std::string& path, std::shared_ptr<const safe_path::Fd> file) {
    if (!file || !file->valid()) throw NumberedError(mail::kAttachmentNotFound, "Allegato non trovato: " + path);
    files_.push_back({static_cast<int>(files_.size()), path, std::move(file)});
}

mail::Message MailItem::message() const {
    mail::Message m;
    m.subject = subject;
    m.receipt_requested = ReadReceiptRequested;
    add_list(m, To, mail::RecipType::To);
    add_list(m, CC, mail::RecipType::Cc);
    add_list(m, BCC, mail::RecipType::Bcc);
    m.note_text = body;
    m.attachments = Attachments.files();
    return m;
}

void MailItem::Save() {
    if (!session_.signed_on()) session_.sign_on("", "");
    session_.save(message());
}

void MailItem::Send() { session_.send(message(), false); }

Application Application::GetObject(std::unique_ptr<mail::Session>& slot) {
    if (!slot) throw NumberedError(kCannotCreate, "ActiveX component can't create object");
    return Application(*slot);
}

Application Application::CreateObject(const std::string& class_name, std::unique_ptr<mail::Session>& slot,
                                      const mail::Profile& profile, bool sign_on) {
    bool known = false;
    for (const char* version : {"2003", "2007", "2010", "2013"})
        known = known || class_for_version(version) == class_name;
    if (!known) throw NumberedError(kCannotCreate, "ActiveX component can't create object");
    if (!slot) slot = mail::open_session(profile);
    if (sign_on && !slot->signed_on()) slot->sign_on("", "");
    return Application(*slot);
}

MailItem Application::createitem(int type) const {
    if (type != 0) throw NumberedError(5, "Invalid procedure call or argument");
    return MailItem(*session_);
}

std::string class_for_version(const std::string& version) {
    if (version == "2013") return "Outlook.application.15";
    if (version == "2010") return "Outlook.application.14";
    if (version == "2007") return "Outlook.application.12";
    if (version == "2003") return "Outlook.application.11";
    return "";
}

}  // namespace velarion::outlook
