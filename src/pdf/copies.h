// Copies of the composed PDF: the print file's "CREAFILE:" target and the
// style's "dircopy", with the "non_copiati" fallback.
#pragma once

#include <string>

namespace velarion {

struct Runtime;
struct LayoutState;

// Creates every missing folder of path; false when one cannot be created.
bool Creadir(const Runtime& rt, const std::string& path);

// Copies the output to the "CREAFILE:" target and to "dircopy" as configured.
void copy_pdf(Runtime& rt, const LayoutState& layout, const std::string& output_path);

}  // namespace velarion
