// The style loader on INI files: the named parts are the logo folder's files
// (loghi.ini, barcode.ini, formatting tables); the style "S", or "TAFT" when
// the first byte is odd, is loaded and set up for every print type, with its
// marker sequences, formatting table and the barcode section named by the
// part "".
#include <exception>

#include "fuzz_support.h"
#include "layout/barcode.h"
#include "layout/overlay_fake_doc.h"
#include "layout/style.h"
#include "pdf/crea_pdf.h"
#include "pdf/job_setup.h"
#include "pdf/job_state.h"
#include "pdf/layout_state.h"
#include "pdf/line_loop.h"
#include "platform/os/ini_file.h"

using namespace velarion;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static fuzz::Context c;
    if (size < 1) return 0;
    c.reset();
    auto parts = fuzz::split_parts(data + 1, size - 1);
    fuzz::write_parts(parts, c.logos);
    std::string section = parts[""];
    if (const auto eol = section.find_first_of("\r\n"); eol != std::string::npos) section.resize(eol);
    LayoutState layout;
    layout.style.name = (data[0] & 1) ? "TAFT" : "S";
    try {
        LoadStyle(c.rt, layout.styles, layout.style, layout.compose.size_override);
        const MarkerSequences markers = read_marker_sequences(layout.styles.contents(c.rt));
        PreAnalysis pre;
        pre.condensed = data[0] & 2;
        for (const char* type : kPrintTypes) {
            JobState job;
            job.print_type = type;
            job.pre = pre;
            job.markers = markers;
            if (refuses_print_type(c.rt, layout.style, pre, type)) continue;
            configure_job(c.rt, layout, job);
            testing::RecordingDoc doc;
            set_page_size(layout.style, doc, job);
        }
        ReadBarcodeSettings(c.rt, layout.style, layout.barcode, section);
        ini::key_names(section, c.cfg.style_file);
    } catch (const std::exception&) {
        // the loaders report no errors; one escaping ends the message as CreaPdf would report it
    }
    c.report();
    return 0;
}
