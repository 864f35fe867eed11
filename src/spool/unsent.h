// Messages that could not be delivered are parked below "non_inviati" in the
// work directory, where the clean-up (which removes files only) leaves them:
// one dated folder per message with its work files (header, body,
// attachments, PDFs) to look at, the spool files as the business software
// wrote them in "originale/", and "motivo.txt" with the reason and the spool
// folder it came from, so that `velarion --resubmit FOLDER` can hand it back.
//
// The folder is made whole under a hidden name of the agent that makes it
// (".parziale.<agent>.<name>/"), synced, and only then renamed to its own
// name: a parked folder is always complete, and one left half made by a
// killed agent is removed at the next start while its message is still in
// the spool.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace velarion {

struct Runtime;

namespace spool {

struct ParkRequest {
    std::string work;                           // the work folder (ending in "/")
    std::string spool_dir;                      // the spool folder it came from
    std::string trigger_path;                   // where the trigger lies now (the queue)
    std::string trigger_name;                   // its name in the spool folder
    std::string base;
    std::string agent;                          // the agent that parks it
    std::string reason;
    bool maybe_delivered = false;               // motivo.txt says it may have been delivered already
    std::vector<std::string> attachment_names;  // the header's attachment lines, when read
    std::vector<std::string> spool_files;       // its other spool files (full paths)
};

struct Parked {
    bool complete = false;                 // the folder holds everything and is synced to disk
    std::string folder;                    // "non_inviati/<base>_<yymmddHHMMSS>/" (ending in "/")
    std::vector<std::string> spool_files;  // the spool files now safe in the folder (or moved there)
    std::string why;                       // what failed, when not complete
};

// Copies the message's work files and, synced to disk, its trigger and spool
// files into a new dated folder with motivo.txt ("spool=", "motivo=",
// "forse_consegnato=si" when it may have been delivered, "agente="). A spool
// file that cannot be read is moved there when it lies on the same file
// system, else left in the spool; a vanished file or a symbolic link is not
// kept. When anything cannot be written, nothing is left: the moved files go
// back and the half-made folder is removed. Adds the activity line. Never throws.
Parked park_copy(Runtime& rt, const ParkRequest& r);

// The parked folder of `base` that the agent `agent` completed ("" when none):
// that agent ended before recording the message as parked.
std::string parked_by(const std::string& work, const std::string& base, const std::string& agent);

// Removes the half-made parked folders of agents for which `gone` is true,
// with a line each. A spool file that was moved there (one that could not be
// read) and is missing from `spool_dir` goes back there first.
void remove_partial_parkings(Runtime& rt, const std::string& work, const std::string& spool_dir,
                             const std::function<bool(const std::string& agent)>& gone);

// The line of motivo.txt that says a parked message may have been delivered.
inline constexpr const char* kMaybeDeliveredLine = "forse_consegnato=si";

}  // namespace spool
}  // namespace velarion
