// Classic INI file access with the Windows profile semantics: section and key
// names compared without case, a missing file/section/key reads as the
// default, values cut at 1023 characters, key lists NUL-separated. The file is
// read again on every call, so edits by other processes are seen at once.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/os/safe_path.h"

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

// How many times this process has opened the file at path to read it (each
// read, key list, section and whole-file read counts once), for tests and
// measurements of how often a configuration file is read.
int times_read(const std::string& path);

// What identifies one version of a file: a file replaced or edited has
// another inode, modification time or size.
struct FileStamp {
    unsigned long long device = 0, inode = 0, size = 0;
    long long mtime_ns = 0;
    bool operator==(const FileStamp&) const = default;
};

// The stamp of a regular file; nullopt when there is none.
std::optional<FileStamp> stamp_of(const std::string& path);
// The stamp of the open regular file; nullopt when it is not one.
std::optional<FileStamp> stamp_of(const safe_path::Fd& fd);

// A whole INI file read in one pass, for loaders that take many sections:
// each section's entries in file order (a key written twice once, with its
// last value), with the line each was read from (from 1), values cut at 1023
// characters.
struct IniEntry {
    std::string key, value;
    int line = 0;
};
struct IniSection {
    std::string name;
    int line = 0;  // of its (first) header
    std::vector<IniEntry> entries;
};
struct IniContents {
    bool read = false;  // a regular file was read
    // Something was there but not opened: outside the allowed folders, a
    // link on the way, a file with more than one name, or no regular file.
    bool refused = false;
    FileStamp stamp;    // of the version read
    std::vector<IniSection> sections;
    // The section of that name, compared without case; nullptr when none.
    const IniSection* section(const std::string& name) const;
};
IniContents read_all(const std::string& path);
// The same from a file already open (read from its start through that
// descriptor, whatever is renamed or linked in its place meanwhile), stamped
// from the descriptor before the read.
IniContents read_all(const safe_path::Fd& fd);

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
