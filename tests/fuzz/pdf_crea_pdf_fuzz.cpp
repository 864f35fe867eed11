// CreaPdf on a print file with a style: the input's first byte picks the
// print type, its part "" is the print file, and its named parts are the
// files of the logo folder (loghi.ini with the style "S", overlays,
// formatting tables, barcode.ini, logo pictures).
#include <exception>

#include "fuzz_support.h"
#include "layout/pre_analysis.h"
#include "pdf/crea_pdf.h"

using namespace velarion;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static fuzz::Context c;
    if (size < 1) return 0;
    c.reset();
    const char* type = kPrintTypes[data[0] % std::size(kPrintTypes)];
    auto parts = fuzz::split_parts(data + 1, size - 1);
    fuzz::write_parts(parts, c.logos);
    const std::string path = c.work + "STAMPA.txt";
    fuzz::write_bytes(path, parts[""]);
    MessageLayout layout("S");
    try {
        const PreAnalysis pre = AnalizzaTXT(c.rt, path);
        CreaPdf(c.rt, layout.state(), pre, path, type, "STAMPA.txt");
    } catch (const std::exception&) {
        // CreaPdf reports its own failures; what the pre-analysis raises ends the message.
    }
    c.report();
    return 0;
}
