// Composition of one print file into a PDF: the pre-analysis, then CreaPdf
// with the print types from the largest to the smallest.
#pragma once

#include <span>
#include <string>

#include "pdf/crea_pdf.h"

namespace velarion {

struct Runtime;
class MessageLayout;

namespace spool {

// Removes from `dir` the PDF and the zip archive called stem + ".pdf" and
// stem + ".zip" (in the spellings a composition or a spool may give them),
// so that a failed composition cannot leave an earlier message's file to be
// attached in its place.
void remove_stale_outputs(const std::string& dir, const std::string& stem);

// Runs AnalizzaTXT on `path`, then CreaPdf with each print type in order
// (those of message processing unless `types` names others) until one is
// accepted, in the message's layout state. page_section_end is the message's
// "/PAGE" section end, carried on to its next print file. Returns the print
// type of the PDF, after the activity line " Creato il file PDF ", only when
// the PDF it names exists; "" otherwise.
std::string compose_print_file(Runtime& rt, MessageLayout& layout, const std::string& path,
                               const std::string& file_name, long& page_section_end,
                               std::span<const char* const> types = kPrintTypes);

}  // namespace spool
}  // namespace velarion
