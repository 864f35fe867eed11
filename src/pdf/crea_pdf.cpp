#include "pdf/crea_pdf.h"

#include <filesystem>
#include <fstream>

#include "layout/logo.h"
#include "layout/merge.h"
#include "layout/style.h"
#include "pdf/copies.h"
#include "pdf/job_state.h"
#include "pdf/line_loop.h"
#include "pdf/save_pdf.h"
#include "platform/pdf_document.h"
#include "startup/context.h"

namespace velarion {

namespace {

// The saving part of CreaPdf once the line loop has ended without a fit failure.
void save_and_copy(Context& ctx, PdfDocument& doc, const JobState& job, int& step) {
    auto& compose = ctx.layout.compose;
    const bool merge = !compose.merge_list.empty() && ctx.pdf.merge;
    // 2.
    const std::string output = output_path_for(job.input_path);
    ctx.trace("STO PER SALVARE IL FILE " + output);
    // 3. A document without text can still be made of merged files.
    step = 3;
    if (merge && !job.text_written) AGGIUNGIFONDOPDF(ctx, output, compose.merge_list);
    // 4.
    if (!job.text_written) {
        std::error_code ec;
        if (std::filesystem::exists(output, ec)) compose.created_pdf = output;
        return;
    }
    // 5.
    step = 5;
    std::error_code ec;
    std::filesystem::remove(output, ec);
    doc.SetAUTHOR(kAuthor);
    doc.SetKeywords(build_keywords(job.print_type, compose.mono_font, job.input_path));
    doc.SavePDF(output);  // written whole under a temporary name, then renamed
    compose.created_pdf = output;
    // 6.
    step = 6;
    if (merge) AGGIUNGIFONDOPDF(ctx, output, compose.merge_list);
    // 7. to 10.
    step = 7;
    protect_pdf(ctx, output);
    // 11. to 13.
    step = 11;
    copy_pdf(ctx, output);
}

}  // namespace

bool CreaPdf(Context& ctx, const std::string& input_path, const std::string& print_type,
             const std::string& file_name) {
    auto& compose = ctx.layout.compose;
    auto& style = ctx.layout.style;
    const std::string message_style = style.name;
    JobState job;
    job.input_path = input_path;
    job.print_type = print_type;
    int step = 1;
    try {
        // 1. A fresh document state; the merge list and the copy target of an
        // earlier call do not carry over.
        compose.created_pdf.clear();
        compose.merge_list.clear();
        compose.lsfilecrea.clear();
        compose.logos.clear();
        compose.registered_fonts.clear();
        compose.mono_font = 0;
        ctx.layout.overlay = OverlayState{};
        // 3. and 6. The message's style.
        step = 6;
        style = StyleSettings{};
        style.name = message_style;
        style.tipologo = "0";
        if (!message_style.empty()) LoadStyle(ctx);
        // 7. A refused type costs no document and no read of the print file.
        step = 7;
        if (refuses_print_type(ctx, print_type)) {
            // "altro" is the last type tried: a style that refuses it refuses them all.
            if (print_type == "altro")
                ctx.list.add(" Crea Pdf " + input_path + " nessun tipo stampa ammesso: forzatura " +
                             style.forzatura);
            style.name = message_style;
            return true;
        }
        // 13. and 14. The print file.
        step = 13;
        std::ifstream in(input_path, std::ios::binary);
        if (!in) {
            ctx.list.add(" Crea Pdf " + input_path + " file non leggibile");
            style.name = message_style;
            return true;
        }
        if (in.peek() == std::char_traits<char>::eof()) {
            ctx.list.add(" Crea Pdf " + input_path + " File Senza Dati ");
            style.name = message_style;
            return true;
        }
        // 5. The marker sequences of loghi.ini (read once the type is accepted).
        step = 5;
        job.markers = read_marker_sequences(ctx);
        // 4. and 8. The drawing object and the geometry of the type.
        step = 4;
        std::unique_ptr<PdfDocument> doc =
            compose.make_document ? compose.make_document() : make_pdf_document();
        step = 8;
        configure_job(ctx, job);
        // 9. to 11.
        step = 9;
        doc->NewPDF("Stampa");
        doc->SetViewMode(1);
        set_page_size(ctx, *doc, job);
        doc->SetFontName("Courier");
        doc->SetParagraphAlignment("left");
        // 12.
        step = 12;
        if (!style.name.empty()) ImportLogos(ctx, *doc);
        job.text_written = style.senzadati == "s";
        // The line loop.
        step = 15;
        run_line_loop(ctx, *doc, in, job);
        in.close();
        ctx.trace("CHIUDO FILE");
        // Saving, protection and copies.
        if (!job.nonvabene) save_and_copy(ctx, *doc, job, step);
        ctx.trace("ESCO DAL CREA PDF CON NONVABENE=" + std::string(job.nonvabene ? "True" : "False"));
        style.name = message_style;
        return job.nonvabene;
    } catch (const std::exception& e) {
        ctx.list.add(" " + std::string(e.what()) + " CreaPdf passo " + std::to_string(step) + " " +
                     file_name);
        style.name = message_style;
        // Before the PDF was saved the type is given up, so the caller tries the next one.
        return compose.created_pdf.empty() ? true : job.nonvabene;
    }
}

}  // namespace velarion
