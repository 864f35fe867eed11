// Messages that could not be delivered are kept below "non_inviati" in the
// work directory, where the once-per-run cleanup (which removes files only)
// leaves them.
#pragma once

#include <string>
#include <vector>

namespace velarion {

struct Runtime;

namespace spool {

// Copies the message's work files (header, body, content files, attachment
// copies, PDFs and zip archives) into the dated folder
// "non_inviati/<base>_<yymmddHHMMSS>/" and adds the activity line naming it.
// Never throws; a failure to keep is itself reported.
void keep_unsent(Runtime& rt, const std::string& work, const std::string& base,
                 const std::vector<std::string>& attachment_names);

// A message some of whose spool files were symbolic links: one activity line
// names each of them (" File di spool non ammesso, collegamento simbolico: "),
// then the files that were copied are kept as keep_unsent keeps them.
void keep_refused(Runtime& rt, const std::string& work, const std::string& base,
                  const std::vector<std::string>& links);

}  // namespace spool
}  // namespace velarion
