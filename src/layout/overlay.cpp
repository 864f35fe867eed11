#include "layout/overlay.h"

#include <algorithm>
#include <fstream>
#include <string>

#include "common/bounded_line.h"
#include "common/runtime.h"
#include "layout/overlay_lines.h"
#include "layout/overlay_run.h"
#include "layout/overlay_support.h"
#include "platform/os/paths.h"
#include "platform/pdf/pdf_document.h"

namespace velarion {

void Creafincature(const Runtime& rt, OverlayState& state, PdfDocument& doc, std::string& overlay_file,
                   double left_override, double top_override) {
    overlay::OverlayRun run(rt, state, doc, left_override, top_override);
    // The line being carried out, for the problems and the activity line.
    static const TabFields kNoFields;
    static const std::string kNoLine;
    const TabFields* fields = &kNoFields;
    const std::string* line = &kNoLine;
    int line_no = 0;
    std::string path;
    // The style checker's note of a line that failed or names no command.
    auto problem = [&](const std::string& what) {
        const std::string& keyword = (*fields)[2];
        FileProblem p{path.empty() ? overlay_file : path, line_no, keyword.empty() ? what : keyword + ": " + what};
        if (std::find(state.problems.begin(), state.problems.end(), p) == state.problems.end())
            state.problems.push_back(std::move(p));
    };
    // One command; the agent ends the file at its first failing line.
    const FieldNumbers* numbers = nullptr;
    auto carry_out = [&] {
        if (!state.checking) {
            run.execute(*fields, numbers);
            return;
        }
        const std::string& keyword = (*fields)[2];
        if (!keyword.empty() && !overlay::OverlayRun::is_command(keyword)) problem("unknown command (line ignored)");
        try {
            run.execute(*fields, numbers);
        } catch (const std::exception& e) {
            problem(e.what() + std::string(" (") + *line + ")");
            try {
                run.undo_paragraph();
            } catch (...) {
            }
        }
    };
    // Held to the end: the activity line of a failure names the line.
    std::shared_ptr<const overlay::OverlayLines> lines;
    TabFields streamed_fields;
    std::string streamed_line;
    try {
        // Complete the file name; open it for reading.
        overlay_file = overlay::InLogoDir(rt, overlay_file);
        // Read only below the logo folder or a read folder: opened once,
        // confined, and read from that descriptor.
        overlay::FoundStyleFile found = overlay::FindAndOpenStyleFile(rt, overlay_file);
        path = found.path;
        const safe_path::Fd file = std::move(found.fd);
        if (!file.valid()) throw NumberedError(53, "File not found");

        // One command per line until the end flag or the end of the file:
        // the lines as split for this version of the file, or read here one
        // by one from a file too large to keep.
        lines = overlay::overlay_lines(rt, path, file);
        if (lines) {
            for (const overlay::OverlayLine& l : *lines) {
                if (run.ended()) break;
                ++line_no;
                fields = &l.fields;
                line = &l.text;
                numbers = &l.numbers;
                carry_out();
            }
        } else {
            safe_path::FdReader reader(file);
            std::istream in(&reader);
            while (!run.ended() && read_bounded_line(in, streamed_line)) {
                ++line_no;
                if (!streamed_line.empty() && streamed_line.back() == '\r') streamed_line.pop_back();
                streamed_fields = SplitTabFields(streamed_line);
                fields = &streamed_fields;
                line = &streamed_line;
                carry_out();
            }
        }
    } catch (const std::exception& e) {
        if (state.checking) problem(e.what());
        const auto* oe = dynamic_cast<const NumberedError*>(&e);
        // A failing drawing operation is reported as the runtime reports an
        // object's failure ("Automation error").
        const std::string number = oe ? std::to_string(oe->number()) : "440";
        rt.list.add(" Creafincature " + number + " " + e.what() + " " + overlay_file + " " +
                     (*fields)[1] + " " + *line);
        try {
            run.undo_paragraph();
        } catch (...) {
        }
    } catch (...) {
        rt.list.add(" Creafincature 440 Automation error " + overlay_file + " " + (*fields)[1] + " " +
                     *line);
    }
    // Cleanup; its own errors are ignored.
    try {
        doc.SetTextInclinationDegrees(0);
    } catch (...) {
    }
}

}  // namespace velarion
