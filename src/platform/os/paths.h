// Paths from Windows installations: "\" and "/" both separate folders, and a
// missing name is looked up without regard to case within its folder, as on
// the file system the spool protocol was made for.
#pragma once

#include <string>

namespace velarion::paths {

// Turns every "\" into "/".
std::string native(std::string path);

// True when the path ends with a folder separator ("\" or "/").
bool ends_with_separator(const std::string& path);

// The path with a "/" appended unless it already ends with a separator.
std::string with_separator(std::string path);

// True when the text holds a folder separator.
bool has_separator(const std::string& path);

// The existing file or folder the path names: the exact name when it exists,
// otherwise a case-insensitive match of each component; "" when none.
std::string resolve(const std::string& path);

// The entry of `folder` whose name equals `name` without regard to case (the
// exact name first); its full path, or "" when there is none.
std::string find_in_folder(const std::string& folder, const std::string& name);

// True when resolve() finds the path.
bool exists(const std::string& path);

// True when resolve() finds a folder; writable_folder: one this process may
// also create files in.
bool is_folder(const std::string& path);
bool writable_folder(const std::string& path);

// True when the path begins with a Windows drive letter ("C:"), which names
// no folder here.
bool is_drive_path(const std::string& path);

// Name after the last separator.
std::string file_name(const std::string& path);

// Folder part, with its trailing "/" ("" when the path has no folder).
std::string folder(const std::string& path);

// The directory the running program lies in, with a trailing "/".
std::string program_dir();

}  // namespace velarion::paths
