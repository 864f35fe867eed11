// CreaPdf: one print file into a PDF with one print type.
#pragma once

#include <string>

namespace velarion {

struct Context;

// The print types message processing tries, largest first.
inline constexpr const char* kPrintTypes[] = {"14o", "12v", "12o", "10v", "10o-", "10o", "8v",
                                              "8o",  "7v",  "6v",  "6o",  "6o-",  "altro"};

// Returns NONVABENE: true when the type was refused, the text did not fit or
// the file is empty (try the next type); false when the PDF was made, its
// path then in ctx.layout.compose.created_pdf.
bool CreaPdf(Context& ctx, const std::string& input_path, const std::string& print_type,
             const std::string& file_name);

}  // namespace velarion
