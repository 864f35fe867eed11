// The attachment list of a message: resolved once when the header is read
// (where each entry lies, whether it may be read, what travels in its
// place), then opened by the transport that delivers it.
//
// One rule for every transport: an ordinary file travels as itself; a print
// file as its PDF, or for the fax gateway as the zip archive of its PDF,
// made once by message processing; with "allegatxt" the print file itself
// follows at the next position.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "delivery/delivery_outcome.h"
#include "delivery/delivery_request.h"
#include "platform/mail/mail.h"

namespace velarion {

struct Runtime;

// The header's entry resolved: a bare name lies in the work directory, a
// path with folders is taken by that path (a relative one below the work
// directory), found without regard to case where the exact name is missing.
// A print file's PDF (and zip archive for the fax gateway) are named beside
// it in the work directory; the PDF is found without regard to case once it
// has been composed (see locate_pdf).
MessageAttachment resolve_attachment(const Runtime& rt, const std::string& entry, bool fax);

// True when the files delivery will read for the attachment lie below the
// installation's folders (the settings' read_roots; symbolic links
// resolved): a print file must be a plain file name, since it is composed in
// the work directory under that name; any other entry's path must lie below
// a root.
bool attachment_allowed(const Runtime& rt, const MessageAttachment& a);

// True when the entry would read a file of the work directory that is not
// the message's own: anything below its folders (the run logs, parked
// messages, the agents' lists) and, in the work directory itself, a file the
// message did not bring (`own`: its content file was there to be copied
// under that name), such as another message's copy or PDF.
bool reads_foreign_work_file(const Runtime& rt, const MessageAttachment& a, bool own);

// After the print file was composed: its PDF as the work directory spells it.
void locate_pdf(MessageAttachment& a);

// Fax gateway: the PDF of a print file zipped by pkzip (archive path, then
// file path) into the attachment's zip. " Errore PKZIP " with the work
// directory when no archive came of it; the delivery then finds it missing.
void make_fax_zip(const Runtime& rt, const MessageAttachment& a);

// The number of leading blanks of the note text: one per attachment, one
// more for a 10-character print file when "allegatxt" is "y".
int count_attachment_positions(const DeliveryRequest& r);

// The note text: a blank per position, a line break, then the body.
std::string note_with_positions(int positions, const std::string& body);

// What to do when a print file's PDF is missing: end the delivery with
// " Non esiste l'allegato pdf  Non mando l'email", or hand it to the mail
// layer as missing (it reports the missing attachment when the message is
// stored).
enum class MissingPdf { stop, to_mail_layer };

struct OpenedAttachments {
    // In travelling order with their positions in the note text; a file
    // that is missing has an empty handle (the mail layer reports it).
    std::vector<mail::Attachment> files;
    // Set when the message cannot go: its activity line is written.
    std::optional<DeliveryOutcome> stop;
};

// Opens the files of the request's attachments below the installation's
// folders, never through a symbolic link. A file found outside them (swapped
// since the message was read) writes " Allegato fuori dalle cartelle
// ammesse, messaggio non inviato: " with the entry and stops the message.
OpenedAttachments open_attachments(const Runtime& rt, const DeliveryRequest& r, MissingPdf missing_pdf);

}  // namespace velarion
