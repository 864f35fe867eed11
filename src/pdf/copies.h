// Copies of the composed PDF: the print file's "CREAFILE:" target and the
// style's "dircopy", with the "non_copiati" fallback.
#pragma once

#include <string>

namespace velarion {

struct Context;

// Creates every missing folder of path; false when one cannot be created.
bool Creadir(Context& ctx, const std::string& path);

// Copies the output to the "CREAFILE:" target and to "dircopy" as configured.
void copy_pdf(Context& ctx, const std::string& output_path);

}  // namespace velarion
