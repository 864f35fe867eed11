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

// Where an ordinary attachment entry lies: by its own path when it holds a
// folder separator, else in the work directory.
std::string attachment_path(const Runtime& rt, const std::string& entry);

// The number of leading blanks of the note text: one per attachment entry,
// one more for a 10-character print file when "allegatxt" is "y".
int count_attachment_positions(const DeliveryRequest& r, bool allegatxt);

// The note text: a blank per position, a line break, then the body.
std::string note_with_positions(int positions, const std::string& body);

// Adds the attachments of entries 0 to 50 to the message (zip archives for a
// fax, each print file beside its PDF with "allegatxt"). With check_pdf, a
// print file whose PDF is missing logs " Non esiste l'allegato pdf  Non mando
// l'email" and returns false (nothing is to be saved or sent).
bool add_attachments(const Runtime& rt, const DeliveryRequest& r, mail::Message& msg, bool check_pdf);

}  // namespace velarion
