// Messages that could not be delivered are parked below "non_inviati" in the
// work directory, where the clean-up (which removes files only) leaves them:
// one dated folder per message with its work files (header, body,
// attachments, PDFs) to look at, the spool files as the business software
// wrote them in "originale/", and "motivo.txt" with the reason and the spool
// folder it came from, so that `velarion --resubmit FOLDER` can hand it back.
#pragma once

#include <string>
#include <vector>

namespace velarion {

struct Runtime;

namespace spool {

// Copies the message's work files (header, body, content files, attachment
// copies, PDFs and zip archives) into the dated folder
// "non_inviati/<base>_<yymmddHHMMSS>/" and adds the activity line naming it.
// Returns the folder (ending in "/"); "" when it could not be made, after a
// line that says so. Never throws.
std::string keep_unsent(Runtime& rt, const std::string& work, const std::string& base,
                        const std::vector<std::string>& attachment_names);

// What keep_originals kept.
struct KeptOriginals {
    std::vector<std::string> spool_files;  // the spool files now safe in the folder (or moved there)
    bool complete = false;                 // every file and the reason file are there
};

// Copies, synced to disk, the trigger (from trigger_path, under the name
// trigger_name) and the spool files into folder + "originale/", and writes
// folder + "motivo.txt" ("spool=<folder>", "motivo=<reason>"). A file that
// cannot be read is moved there when it lies on the same file system;
// otherwise it stays in the spool, with an activity line. A symbolic link is
// neither read nor kept. Never throws.
KeptOriginals keep_originals(Runtime& rt, const std::string& folder, const std::string& spool_dir,
                             const std::string& trigger_path, const std::string& trigger_name,
                             const std::vector<std::string>& spool_files, const std::string& reason);


}  // namespace spool
}  // namespace velarion
