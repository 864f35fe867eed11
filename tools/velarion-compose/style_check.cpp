#include "style_check.h"

#include <fstream>
#include <iterator>
#include <set>

#include "common/runtime.h"
#include "layout/overlay.h"
#include "layout/overlay_support.h"
#include "layout/style.h"
#include "pdf/archival.h"
#include "pdf/job_setup.h"
#include "pdf/layout_state.h"
#include "platform/pdf/jpeg_header.h"
#include "platform/os/paths.h"
#include "platform/pdf/pdf_document.h"
#include "platform/os/text_encoding.h"

namespace velarion::compose {

namespace {

class Checker {
public:
    Checker(Runtime& rt, LayoutState& layout) : rt_(rt), layout_(layout) {
        doc_ = make_pdf_document();
        doc_->NewPDF("Check");
        doc_->SetOutputFolder(rt.cfg.work_dir);
        doc_->addpage();
        // Pictures and fonts registered in the composed document are not in this one.
        layout_.overlay.reset_document();
    }

    void style(const std::string& name) {
        if (name.empty() || !seen_.insert(text::lower(name)).second) return;
        StyleSettings s;
        ReadStyleSection(rt_, layout_.styles, name, s);
        if (!s.found) return;
        for (const std::string* overlay : {&s.fincatura, &s.fincatura2, &s.fincatura3, &s.fincaturadopo}) {
            if (overlay->empty()) continue;
            std::string file = *overlay;
            Creafincature(rt_, layout_.overlay, *doc_, file, 0, 0);
        }
        if (!s.formattatesto.empty()) load_format_table(rt_, s.formattatesto, &layout_.compose.problems);
        for (const StyleLogo& logo : s.logos) {
            const std::string path = rt_.cfg.logo_dir + paths::native(logo.picture) + ".jpg";
            const std::string found = paths::resolve(path);
            if (found.empty())
                missing(logo.section, "file", "logo picture " + path + " not found");
            else if (s.pdfa && cmyk_picture(found))
                missing(logo.section, "file", "logo picture " + path + " is CMYK: a " + conformance_name(s.pdfa) +
                                                  " takes grey or RGB pictures only (the logo is left out)");
        }
        // What this system lacks for a PDF/A.
        if (s.pdfa)
            for (const std::string& obstacle : archival_obstacles(rt_))
                missing(name, "pdfa", conformance_name(s.pdfa) + " cannot be made: " + obstacle);
        if (!s.filebarcode_ini.empty() &&
            paths::resolve(overlay::InLogoDir(rt_, s.filebarcode_ini)).empty())
            missing(name, "filebarcode_ini", "barcode file " + overlay::InLogoDir(rt_, s.filebarcode_ini) + " not found");
        style(s.retro);
        style(s.logodiverso);
    }

    std::vector<FileProblem> missing_files() const { return missing_; }

private:
    static bool cmyk_picture(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        const auto header = pdfwriter::read_jpeg_header(bytes);
        return header && header->components == 4;
    }

    // A file named by a key of a section, with the key's line.
    void missing(const std::string& section, const std::string& key, const std::string& what) {
        const std::string& path = rt_.cfg.style_file;
        int line = 0;
        if (const ini::IniSection* s = layout_.styles.contents(rt_).section(section))
            for (const auto& e : s->entries)
                if (text::lower(e.key) == key) line = e.line;
        missing_.push_back({path, line, "[" + section + "] " + key + ": " + what});
    }

    Runtime& rt_;
    LayoutState& layout_;
    std::unique_ptr<PdfDocument> doc_;
    std::set<std::string> seen_;
    std::vector<FileProblem> missing_;
};

}  // namespace

std::vector<FileProblem> check_style(Runtime& rt, LayoutState& layout, const std::string& name) {
    Checker c(rt, layout);
    c.style(name);
    return c.missing_files();
}

}  // namespace velarion::compose
