// Copies of the composed PDF: the print file's "CREAFILE:" target and the
// style's "dircopy", with the "non_copiati" fallback.
#pragma once

#include <string>
#include <vector>

namespace velarion {

struct Runtime;
struct LayoutState;

// Creates every missing folder of path below the copy folders of the
// settings, never through a symbolic link; false when path is relative or
// outside them, or a folder cannot be created.
bool Creadir(const Runtime& rt, const std::string& path);
// The same below the given copy folders.
bool Creadir(const Runtime& rt, const std::string& path, const std::vector<std::string>& roots);

// Copies the output to the "CREAFILE:" target and to "dircopy" as configured,
// each only to an absolute path below the copy folders (the style's dircopy
// is one when the style file lies outside the spool), never below the
// settings' no_copy_roots nor over a file that is no PDF; a refused or
// failed copy is kept below "non_copiati".
void copy_pdf(Runtime& rt, const LayoutState& layout, const std::string& output_path);

}  // namespace velarion
