#include "layout/overlay.h"

#include <fstream>
#include <string>

#include "common/bounded_line.h"
#include "common/runtime.h"
#include "layout/overlay_run.h"
#include "layout/overlay_support.h"
#include "platform/paths.h"
#include "platform/pdf_document.h"

namespace velarion {

void Creafincature(const Runtime& rt, OverlayState& state, PdfDocument& doc, std::string& overlay_file,
                   double left_override, double top_override) {
    overlay::OverlayRun run(rt, state, doc, left_override, top_override);
    TabFields fields;
    std::string line;
    try {
        // 1. Complete the file name; open it for reading.
        overlay_file = overlay::InLogoDir(rt, overlay_file);
        const std::string path = overlay::StyleFilePath(rt, overlay_file);
        std::ifstream in;
        if (!path.empty()) in.open(path, std::ios::binary);
        if (!in.is_open()) throw NumberedError(53, "File not found");

        // 2. One command per line until the end flag or the end of the file.
        while (!run.ended() && read_bounded_line(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            fields = SplitTabFields(line);
            run.execute(fields);
        }
    } catch (const std::exception& e) {
        const auto* oe = dynamic_cast<const NumberedError*>(&e);
        // A failing drawing operation is reported as the runtime reports an
        // object's failure ("Automation error").
        const std::string number = oe ? std::to_string(oe->number()) : "440";
        rt.list.add(" Creafincature " + number + " " + e.what() + " " + overlay_file + " " +
                     fields[1] + " " + line);
        try {
            run.undo_paragraph();
        } catch (...) {
        }
    } catch (...) {
        rt.list.add(" Creafincature 440 Automation error " + overlay_file + " " + fields[1] + " " +
                     line);
    }
    // 3. Cleanup; its own errors are ignored.
    try {
        doc.SetTextInclinationDegrees(0);
    } catch (...) {
    }
}

}  // namespace velarion
