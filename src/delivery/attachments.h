// The attachment list of a message: positions in the note text, print files
// attached as their PDF (or zip archive for the fax gateway), other files by
// name from the work directory or by their own path.
#pragma once

#include <string>

#include "common/print_file_name.h"
#include "delivery/delivery_request.h"
#include "platform/mail.h"

namespace velarion {

struct Runtime;

// The number of leading blanks of the note text: one per attachment entry,
// one more for a 10-character print file when "allegatxt" is "y".
int count_attachment_positions(const DeliveryRequest& r, bool allegatxt);

// The note text: a blank per position, a line break, then the body.
std::string note_with_positions(int positions, const std::string& body);

// The file an attachment entry that is no print file names: a bare name in
// the work directory, a path with folders by that path (a relative one below
// the work directory), found without regard to case where the exact name is
// missing.
std::string attachment_path(const Runtime& rt, const std::string& entry);

// True when the files delivery reads for the entry lie below the
// installation's folders (the settings' read_roots; symbolic links resolved):
// a print file must be a plain file name, since it is composed in the work
// directory under that name; any other entry's path must lie below a root.
bool attachment_allowed(const Runtime& rt, const std::string& entry);

// attachment_allowed for a transport: when the entry is refused, the activity
// line " Allegato fuori dalle cartelle ammesse, messaggio non inviato: " with
// the entry, and false (the message is then not delivered but kept).
bool check_attachment(const Runtime& rt, const std::string& entry);

// The same for one file a transport attaches by its path (the PDF, zip or
// print file of an entry): its real location must lie below the roots.
bool check_attachment_file(const Runtime& rt, const std::string& path, const std::string& entry);

// Adds the attachments of entries 0 to 50 to the message (zip archives for a
// fax, each print file beside its PDF with "allegatxt"). Each file is opened
// below the installation's folders and handed to the mail layer open. With
// check_pdf, a print file whose PDF is missing logs " Non esiste l'allegato
// pdf  Non mando l'email" and returns false (nothing is to be saved or sent).
// An entry outside those folders logs " Allegato fuori dalle cartelle
// ammesse, messaggio non inviato: " with the entry and returns false, with or
// without check_pdf.
bool add_attachments(const Runtime& rt, const DeliveryRequest& r, mail::Message& msg, bool check_pdf);

}  // namespace velarion
