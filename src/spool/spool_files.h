// File work shared by the spool scan and message processing: line reading,
// copies, removal or ".FATTO" marking, and the check of attachment names that
// come from the spool.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "common/print_file_name.h"
#include "platform/os/atomic_file.h"
#include "platform/os/clock.h"
#include "platform/os/error.h"
#include "platform/os/file_kind.h"

namespace velarion::spool {

// Lines of a text file without their line ends (LF or CR LF).
// A missing or unreadable file throws NumberedError 53.
std::vector<std::string> read_lines(const std::string& path);

// What a message's header and body may hold: memory bounded by these, not by
// what the spool's writer put there.
constexpr std::size_t kMaxHeaderLine = 64 * 1024;
constexpr std::size_t kMaxHeader = 1024 * 1024;
constexpr std::size_t kMaxBody = 1024 * 1024;

// A spool file beyond its limit; what() is the reason for the activity line.
struct TooLarge : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The lines of a message's header (each at most kMaxHeaderLine bytes, all at
// most kMaxHeader) or body (at most kMaxBody); beyond that TooLarge, whose
// text names the limit.
std::vector<std::string> read_header_lines(const std::string& path);
std::vector<std::string> read_body_lines(const std::string& path);
// The same for a header or body already read into memory.
std::vector<std::string> header_lines(std::string_view bytes);
std::vector<std::string> body_lines(std::string_view bytes);

// The first `limit` bytes of a file; "" when it cannot be opened or is a
// symbolic link.
std::string read_head(const std::string& path, std::size_t limit);

// Copies a file, replacing the target: never read through a symbolic link,
// never written through one (a temporary in the target's folder is renamed
// over it). A work copy, made again from the spool files after a crash,
// skips the sync to disk. Throws NumberedError 75 when it cannot be done.
void copy_file(const std::string& from, const std::string& to,
               atomic_file::Sync sync = atomic_file::Sync::durable);

// Appends bytes to a file of the folder `root` (or below it), never through
// a symbolic link. Throws NumberedError 75 when it cannot be done.
void append_file(const std::string& path, const std::string& bytes, const std::string& root);

// True when the path itself is a symbolic link (a spool file that could lead
// anywhere).
bool is_link(const std::string& path);

// Why a spool file may not be read: "" for a plain file (or none there),
// else its kind as the activity line names it ("collegamento simbolico",
// "FIFO", "dispositivo", "socket", "cartella", or "collegamento fisico" for a
// file with more than one name, which may be a file outside the spool).
std::string refused_kind(const std::string& path);
// The same for a kind already looked at.
std::string refused_kind(file_kind::Kind kind);

// Why a message's base name (its trigger's name without ".T") cannot name
// the files the agent makes from it: "" when it can, else the reason (a
// backslash, which the agent reads as a folder separator; a wildcard of the
// work folder's name patterns; a name too long for the dated names made
// from it).
std::string odd_message_name(const std::string& base);

// A name with every character odd_message_name refuses replaced by "_", cut
// to 200 bytes (its first 190 and last 10): the name a parked message's
// files are kept under.
std::string plain_name(const std::string& name);

// True when something of that name is there, of whatever kind (a link not followed).
bool present(const std::string& path);

// Size of a file in bytes.
std::uintmax_t file_size(const std::string& path);

// True when a regular file of that exact path exists.
bool is_file(const std::string& path);

// Removes a processed spool file (a folder with what it holds): deletes it, or with `mark_done` renames it
// to its name followed by ".FATTO". A file already gone is no error.
void remove_or_mark_done(const std::string& path, bool mark_done);

// The attachment-name check (common/print_file_name.h).
using velarion::is_safe_file_name;

// The time formatted "yymmddHHMMSS" (dated backups and folders).
std::string stamp_seconds(const DateTime& t);
// The time formatted "yymmddHHMM" (scheduling directives).
std::string stamp_minutes(const DateTime& t);

}  // namespace velarion::spool
