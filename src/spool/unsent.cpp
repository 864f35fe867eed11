#include "spool/unsent.h"

#include <set>
#include <system_error>

#include "common/runtime.h"
#include "platform/error.h"
#include "platform/paths.h"
#include "platform/safe_path.h"
#include "spool/message_rules.h"
#include "spool/spool_files.h"

namespace velarion::spool {

namespace {
// The names in the work directory that belong to the message.
std::vector<std::string> message_files(const std::string& base,
                                       const std::vector<std::string>& attachment_names) {
    std::vector<std::string> names = {base + ".h", base + ".b", base + ".pdf", base + ".zip"};
    for (int i = 0; i <= 9; ++i) names.push_back(base + "." + std::to_string(i));
    for (const auto& a : attachment_names) {
        if (!is_safe_file_name(a)) continue;
        names.push_back(a);
        if (is_print_file(a)) {
            const std::string stem = a.substr(0, a.size() - 4);
            names.push_back(stem + ".pdf");
            names.push_back(stem + ".zip");
        }
    }
    return names;
}
}  // namespace

void keep_unsent(Runtime& rt, const std::string& work, const std::string& base,
                 const std::vector<std::string>& attachment_names) {
    const std::string folder =
        work + "non_inviati/" + base + "_" + stamp_seconds(rt.clock.now()) + "/";
    try {
        // Made below the work directory without following a link on the way.
        if (!safe_path::open_folder_below(folder, {work}, true).valid())
            throw NumberedError(75, "Path/File access error " + folder);
        std::set<std::string> copied;
        for (const auto& name : message_files(base, attachment_names)) {
            const std::string found = paths::resolve(work + name);
            if (found.empty() || !is_file(found) || is_link(found)) continue;
            const std::string actual = paths::file_name(found);
            if (!copied.insert(actual).second) continue;
            if (!safe_path::copy_below(found, folder + actual, {work}))
                throw NumberedError(75, "Path/File access error " + folder + actual);
        }
        rt.list.add(" Messaggio non inviato conservato in " + folder);
    } catch (const std::exception& e) {
        rt.list.add(" Impossibile conservare il messaggio non inviato in " + folder + " " +
                     e.what());
    }
    rt.list.refresh();
}

void keep_refused(Runtime& rt, const std::string& work, const std::string& base,
                  const std::vector<std::string>& links) {
    for (const auto& link : links) rt.list.add(" File di spool non ammesso, collegamento simbolico: " + link);
    keep_unsent(rt, work, base, {});
}

}  // namespace velarion::spool
