// Classic INI file access with the Windows profile semantics: section and key
// names compared without case, a missing file/section/key reads as the
// default, values cut at 1023 characters, key lists NUL-separated. The file is
// read again on every call, so edits by other processes are seen at once.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace velarion::ini {

// Value of section/key, or def when absent. At most 1023 characters.
std::string read(const std::string& section, const std::string& key, const std::string& def,
                 const std::string& path);

// Names of the section's keys, each ended by a NUL ("" when none).
std::string read_keys(const std::string& section, const std::string& path);

// Names of the section's keys as a list.
std::vector<std::string> key_names(const std::string& section, const std::string& path);

// Every key of a section with its value, in file order; key names as written.
// Reads the file once (for loaders that need many keys of one section).
std::vector<std::pair<std::string, std::string>> read_section(const std::string& section,
                                                              const std::string& path);

// With key and value: writes the entry (creating file and section).
// With a key and no value: deletes the key. With no key: deletes the section.
// Only the lines concerned change: line ends (CR LF stays CR LF), Windows-1252
// bytes, comments and blank lines stay as they were; the file is replaced in
// one rename (a temporary beside it), keeping its permissions. A line break
// in the value becomes a blank. Returns false when the file could not be
// written.
bool write(const std::string& section, const std::optional<std::string>& key,
           const std::optional<std::string>& value, const std::string& path);

// Writes several entries of one section in one replacement of the file.
bool write_values(const std::string& section, const std::vector<std::pair<std::string, std::string>>& entries,
                  const std::string& path);

}  // namespace velarion::ini
