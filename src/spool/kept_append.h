// Files of the work folder that lines are appended to by name (the record
// of sent messages, its bodies and outcomes), kept open between appends
// instead of being looked up, opened and closed for each line.
#pragma once

#include <string>
#include <string_view>

namespace velarion::spool {

// Appends `text` to the file `dir` + `name` in one write with O_APPEND (so
// that agents sharing it never mix their lines), opening it (and making
// `dir`) when it is not open yet. A file kept open is used while it is still
// there: one removed or replaced is seen on its descriptor before each
// write, and opened (made) anew; that the path still names it is looked at
// once a second. `opened` (when given) says whether the file was opened (or
// tried) for this line. False when the text could not be written whole.
bool append_kept(const std::string& dir, const std::string& name, std::string_view text, bool* opened = nullptr);

}  // namespace velarion::spool
