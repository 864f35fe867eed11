#include "spool/print_file.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>
#include <vector>

#include "common/runtime.h"
#include "layout/pre_analysis.h"
#include "pdf/crea_pdf.h"
#include "platform/os/text_encoding.h"
#include "spool/spool_files.h"

namespace fs = std::filesystem;

namespace velarion::spool {

void remove_stale_outputs(const std::string& dir, const std::string& stem) {
    // The exact spellings only: a listing of the work directory per print
    // file would grow with every message of the run. Each goes by one
    // unlink, which a missing file or a folder of that name survives.
    std::vector<std::string> stems{stem};
    for (std::string s : {text::lower(stem), text::upper(stem)})
        if (std::find(stems.begin(), stems.end(), s) == stems.end()) stems.push_back(std::move(s));
    for (const std::string& s : stems) {
        for (const char* ext : {".pdf", ".PDF", ".zip", ".ZIP", ".Pdf", ".Zip"}) {
            const std::string path = dir + s + ext;
            if (::unlink(path.c_str()) == 0 || errno == ENOENT || errno == EISDIR) continue;
            const int error = errno;
            // Not removed: an error only for a file that had to go.
            if (is_file(path))
                throw fs::filesystem_error("remove", path, std::error_code(error, std::generic_category()));
        }
    }
}

std::string compose_print_file(Runtime& rt, MessageLayout& layout, const std::string& path,
                               const std::string& file_name, long& page_section_end,
                               std::span<const char* const> types) {
    const PreAnalysis pre = AnalizzaTXT(rt, path, page_section_end);
    page_section_end = pre.page_section_end;
    for (const char* type : types) {
        const CreaPdfResult result = CreaPdf(rt, layout.state(), pre, path, type, file_name);
        if (!result.fitted()) continue;  // refused, did not fit or failed: try the next type
        const std::string& pdf = result.pdf;
        if (pdf.empty() || !is_file(pdf)) return "";
        rt.list.add(" Creato il file PDF " + pdf);
        rt.list.refresh();
        return type;
    }
    return "";
}

}  // namespace velarion::spool
