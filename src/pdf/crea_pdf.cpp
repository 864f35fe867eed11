#include "pdf/crea_pdf.h"

#include <algorithm>
#include <filesystem>
#include <istream>
#include <iterator>
#include <optional>
#include <vector>

#include "common/bounded_line.h"
#include "common/runtime.h"
#include "layout/logo.h"
#include "layout/merge.h"
#include "layout/style.h"
#include "pdf/archival.h"
#include "pdf/copies.h"
#include "pdf/factur_x.h"
#include "pdf/job_state.h"
#include "pdf/layout_state.h"
#include "pdf/line_loop.h"
#include "pdf/save_pdf.h"
#include "platform/os/paths.h"
#include "platform/os/safe_path.h"
#include "platform/pdf/pdf_document.h"

namespace velarion {

namespace {

void add_once(std::vector<FileProblem>& to, const std::vector<FileProblem>& from);

std::string joined(const std::vector<std::string>& names) {
    std::string out;
    for (const std::string& n : names) out += (out.empty() ? "" : ", ") + n;
    return out;
}

// Merged pages come as they are: what was changed on them to conform is
// said; what does not conform makes the document no PDF/A (the merge took
// the claim off), and it is not called one.
void report_merged_pages(Runtime& rt, LayoutState& layout, int part, const archival_pages::Report& r) {
    auto& compose = layout.compose;
    std::vector<std::string> fixed;
    if (r.actions_removed) fixed.push_back("azioni tolte " + std::to_string(r.actions_removed));
    if (r.annotations_removed) fixed.push_back("annotazioni tolte " + std::to_string(r.annotations_removed));
    if (r.flags_set) fixed.push_back("annotazioni rese stampabili " + std::to_string(r.flags_set));
    if (!fixed.empty()) rt.list.add(" " + conformance_name(part) + ": PDF uniti resi conformi: " + joined(fixed));
    if (r.conforms()) return;
    std::vector<std::string> why, english;
    if (!r.fonts_not_embedded.empty()) {
        why.push_back("font non incorporati nei PDF uniti: " + joined(r.fonts_not_embedded));
        english.push_back("draw fonts they do not carry (" + joined(r.fonts_not_embedded) + ")");
    }
    if (!r.wrong_widths.empty()) {
        why.push_back("larghezze diverse dal programma del font nei PDF uniti: " + joined(r.wrong_widths));
        english.push_back("give widths that differ from their font programs (" + joined(r.wrong_widths) + ")");
    }
    if (!r.missing_glyphs.empty()) {
        why.push_back("glifi mancanti nei font dei PDF uniti: " + joined(r.missing_glyphs));
        english.push_back("draw glyphs their fonts lack (" + joined(r.missing_glyphs) + ")");
    }
    if (r.device_cmyk) {
        why.push_back("colori DeviceCMYK nei PDF uniti");
        english.push_back("draw DeviceCMYK colours (the output intent is sRGB)");
    }
    if (r.no_appearance) {
        why.push_back("annotazioni senza aspetto nei PDF uniti");
        english.push_back("hold annotations without an appearance");
    }
    if (r.too_deep) {
        why.push_back("disegni annidati oltre " + std::to_string(archival_pages::kMaxDepth) + " livelli nei PDF uniti");
        english.push_back("nest drawings deeper than " + std::to_string(archival_pages::kMaxDepth) + " levels");
    }
    if (r.unreadable) {
        why.push_back("contenuti illeggibili nei PDF uniti");
        english.push_back("hold content that cannot be read");
    }
    std::string line, text;
    for (const std::string& w : why) line += (line.empty() ? "" : "; ") + w;
    for (const std::string& e : english) text += (text.empty() ? "" : "; ") + e;
    compose.conformance.clear();
    rt.list.add(" " + conformance_name(part) + " non ottenuto: " + line);
    const FileProblem problem{rt.cfg.style_file, layout.style.pdfa_line,
                              "[" + layout.style.name + "] pdfa: the merged PDFs (///M) " + text +
                                  ": the document is no " + conformance_name(part)};
    if (std::find(compose.problems.begin(), compose.problems.end(), problem) == compose.problems.end())
        compose.problems.push_back(problem);
}

// The saving part of CreaPdf once the line loop has ended without a fit failure.
void save_and_copy(Runtime& rt, LayoutState& layout, PdfDocument& doc, const JobState& job,
                   const FacturXInvoice* invoice, int& step) {
    auto& compose = layout.compose;
    const bool merge = !compose.merge_list.empty() && rt.cfg.pdf.merge;
    // The output file, named after the print file.
    const std::string output = output_path_for(job.input_path);
    rt.trace("STO PER SALVARE IL FILE " + output);
    // A document without text can still be made of merged files.
    step = 3;
    if (merge && !job.text_written) AGGIUNGIFONDOPDF(rt, output, compose.merge_list);
    // Without text nothing is saved: the merged file, if any, is the document.
    if (!job.text_written) {
        std::error_code ec;
        if (std::filesystem::exists(output, ec)) compose.created_pdf = output;
        return;
    }
    // The document saved with its author and keywords (and the invoice embedded).
    step = 5;
    std::error_code ec;
    std::filesystem::remove(output, ec);
    doc.SetAUTHOR(kAuthor);
    doc.SetKeywords(build_keywords(job.print_type, compose.mono_font, job.input_path));
    if (invoice) embed_factur_x(doc, *invoice);
    doc.SavePDF(output);  // written whole under a temporary name, then renamed
    compose.created_pdf = output;
    const int part = doc.Archival().part;
    compose.conformance = conformance_name(part);
    // The "///M" PDFs merged onto the saved document.
    step = 6;
    if (merge) {
        const MergeOutcome merged = AGGIUNGIFONDOPDF(rt, output, compose.merge_list, part != 0);
        if (part && merged.merged) report_merged_pages(rt, layout, part, merged.archival);
    }
    if (!compose.conformance.empty())
        rt.list.add(" Creato " + compose.conformance + (invoice ? " Factur-X " + invoice->level : "") + " " + output);
    // Protection as the style file's [PDFCRIPT] section asks; a PDF/A is copied
    // before it is protected.
    step = 7;
    const Protection protection = read_protection(layout.styles.contents(rt), rt.cfg.style_file);
    add_once(compose.problems, protection.problems);
    if (part && protection.wanted()) {
        // A PDF/A is never encrypted: the copies keep the PDF/A, the
        // document that travels is protected.
        const FileProblem both{rt.cfg.style_file, layout.style.pdfa_line,
                               "[" + layout.style.name + "] pdfa: protected by [PDFCRIPT] too: the copies are " +
                                   compose.conformance + ", the document sent is protected (not PDF/A)"};
        if (std::find(compose.problems.begin(), compose.problems.end(), both) == compose.problems.end()) {
            compose.problems.push_back(both);
            rt.list.add(" PDF/A e protezione: copie PDF/A, documento inviato protetto " + output);
        }
        step = 11;
        copy_pdf(rt, layout, output);
        step = 7;
        protect_pdf(rt, output, protection);
        compose.conformance.clear();
        return;
    }
    protect_pdf(rt, output, protection);
    // The copies of the finished document.
    step = 11;
    copy_pdf(rt, layout, output);
}

// The invoice a "///X" line names, read and checked; false (with the reason
// in `refusal`) when it must stop the message. At most "fattura_max_mb" is read.
bool read_invoice(const Runtime& rt, const ComposeState& compose, const std::string& name, FacturXInvoice& invoice,
                  std::string& refusal) {
    const std::string path = compose.find_attachment ? compose.find_attachment(name) : std::string();
    if (path.empty()) {
        refusal = "///X " + name + ": no attachment of that name in the message";
        return false;
    }
    // Opened without following a link or waiting on a FIFO put in its place.
    const safe_path::Fd fd = safe_path::open_nofollow(path);
    safe_path::FdReader reader(fd);
    std::istream in(&reader);
    if (!fd.valid()) in.setstate(std::ios::badbit);
    std::string bytes;
    char buffer[64 * 1024];
    while (in) {
        in.read(buffer, sizeof buffer);
        bytes.append(buffer, static_cast<std::size_t>(in.gcount()));
        if (bytes.size() > rt.cfg.invoice_max_bytes) {
            refusal = "///X " + name + ": the XML is larger than " + std::to_string(rt.cfg.invoice_max_bytes >> 20) +
                      " MB (fattura_max_mb)";
            return false;
        }
    }
    if (!in.eof() || reader.failed()) {
        refusal = "///X " + name + ": the attachment cannot be read";
        return false;
    }
    if (!read_factur_x(bytes, invoice, refusal)) {
        refusal = "///X " + name + ": " + refusal;
        return false;
    }
    return true;
}

// Puts the message's style name back when a composition ends, whichever way
// it ends: directives of the print file change it while it is composed.
class KeepStyleName {
public:
    explicit KeepStyleName(StyleSettings& style) : style_(style), name_(style.name) {}
    ~KeepStyleName() { style_.name = name_; }
    KeepStyleName(const KeepStyleName&) = delete;
    KeepStyleName& operator=(const KeepStyleName&) = delete;
    const std::string& name() const { return name_; }

private:
    StyleSettings& style_;
    const std::string name_;
};

void add_once(std::vector<FileProblem>& to, const std::vector<FileProblem>& from) {
    for (const auto& p : from)
        if (std::find(to.begin(), to.end(), p) == to.end()) to.push_back(p);
}

CreaPdfResult failed(const std::string& reason) { return {CreaPdfResult::Kind::failed, "", reason}; }

}  // namespace

CreaPdfResult CreaPdf(Runtime& rt, LayoutState& layout, const PreAnalysis& pre, const std::string& input_path,
                      const std::string& print_type, const std::string& file_name) {
    auto& compose = layout.compose;
    auto& style = layout.style;
    const KeepStyleName keep(style);
    const std::string& message_style = keep.name();
    JobState job;
    job.input_path = input_path;
    job.print_type = print_type;
    job.pre = pre;
    // The stage named in the "CreaPdf passo" line; the fresh document state first.
    int step = 1;
    // A message refused once (a bad invoice, too many pages) is refused whatever the type.
    if (!compose.refusal.empty()) return failed(compose.refusal);
    try {
        // A fresh document state; the merge list and the copy target of an
        // earlier call do not carry over.
        compose.created_pdf.clear();
        compose.merge_list.clear();
        compose.lsfilecrea.clear();
        compose.logos.clear();
        compose.mono_font = 0;
        compose.conformance.clear();
        layout.overlay.reset_document();
        layout.overlay.stop_label.clear();
        // The message's style (the style file is read once per message).
        step = 6;
        style = StyleSettings{};
        style.name = message_style;
        if (!message_style.empty()) LoadStyle(rt, layout.styles, style, compose.size_override);
        // A refused type costs no document and no read of the print file.
        step = 7;
        if (refuses_print_type(rt, style, pre, print_type)) {
            // "altro" is the last type tried: a style that refuses it refuses them all.
            if (print_type == "altro")
                rt.list.add(" Crea Pdf " + input_path + " nessun tipo stampa ammesso: forzatura " +
                             style.forzatura);
            return {CreaPdfResult::Kind::refused, "", ""};
        }
        // The print file.
        step = 13;
        // Opened once, no link followed, and read from that descriptor.
        safe_path::Fd print_fd = safe_path::open_nofollow(input_path);
        safe_path::FdReader print_reader(print_fd);
        std::istream in(&print_reader);
        if (!print_fd.valid()) {
            rt.list.add(" Crea Pdf " + input_path + " file non leggibile");
            return failed("the print file cannot be read");
        }
        if (in.peek() == std::char_traits<char>::eof()) {
            rt.list.add(" Crea Pdf " + input_path + " File Senza Dati ");
            return failed("the print file is empty");
        }
        // A Factur-X invoice makes the document PDF/A-3b; one that cannot
        // go out stops the message.
        // It is read once per message, whatever the print types tried.
        const FacturXInvoice* invoice = nullptr;
        if (!pre.invoice_xml.empty()) {
            if (!compose.invoice || compose.invoice_name != pre.invoice_xml) {
                compose.invoice.reset();
                FacturXInvoice read;
                std::string refusal;
                if (!read_invoice(rt, compose, pre.invoice_xml, read, refusal)) {
                    compose.refusal = "Fattura elettronica rifiutata: " + refusal;
                    rt.list.add(" " + compose.refusal);
                    return failed(compose.refusal);
                }
                compose.invoice = std::move(read);
                compose.invoice_name = pre.invoice_xml;
                rt.list.add(" Fattura elettronica Factur-X " + compose.invoice->level + " da " + pre.invoice_xml);
            }
            invoice = &*compose.invoice;
        }
        const int archival_part = invoice ? 3 : style.pdfa;
        // The marker sequences of loghi.ini (read once the type is accepted).
        step = 5;
        job.markers = read_marker_sequences(layout.styles.contents(rt));
        // The drawing object and the geometry of the type.
        step = 4;
        std::unique_ptr<PdfDocument> doc =
            compose.make_document ? compose.make_document() : make_pdf_document();
        step = 8;
        configure_job(rt, layout, job);
        // A new document: PDF/A settings, output folder, page size, default font.
        step = 9;
        doc->NewPDF("Stampa");
        if (archival_part) {
            try {
                // Everything a PDF/A may need, before any text: a font missing
                // on page 9 would otherwise end the document there.
                if (const auto obstacles = archival_obstacles(rt); !obstacles.empty()) throw PdfError(obstacles.front());
                doc->SetArchival(archival_settings(rt, archival_part));
            } catch (const std::exception& e) {
                // Asked for and not possible here: the document would go out as something else.
                compose.refusal = conformance_name(archival_part) + " non possibile: " + e.what();
                rt.list.add(" " + compose.refusal);
                return failed(compose.refusal);
            }
        }
        doc->SetOutputFolder(paths::folder(output_path_for(job.input_path)));
        doc->SetViewMode(1);
        set_page_size(style, *doc, job);
        doc->SetFontName("Courier");
        doc->SetParagraphAlignment("left");
        // The style's logos, imported once per document.
        step = 12;
        if (!style.name.empty()) compose.logos = ImportLogos(rt, *doc, style);
        job.text_written = style.senzadati;
        // The line loop.
        step = 15;
        run_line_loop(rt, layout, *doc, in, job);
        print_fd = safe_path::Fd();  // closed before the document is saved
        add_once(compose.problems, job.problems);
        rt.trace("CHIUDO FILE");
        // Saving, protection and copies.
        if (!job.nonvabene) save_and_copy(rt, layout, *doc, job, invoice, step);
        rt.trace("ESCO DAL CREA PDF CON NONVABENE=" + std::string(job.nonvabene ? "True" : "False"));
        if (job.nonvabene) return {CreaPdfResult::Kind::refused, "", ""};
        return {CreaPdfResult::Kind::fitted, compose.created_pdf, ""};
    } catch (const PageLimitReached&) {
        // Said where it was reached; the document is dropped unsaved.
        add_once(compose.problems, job.problems);
        return failed(compose.refusal);
    } catch (const std::exception& e) {
        rt.list.add(" " + std::string(e.what()) + " CreaPdf passo " + std::to_string(step) + " " +
                     file_name);
        add_once(compose.problems, job.problems);
        // Before the PDF was saved the type is given up, so the caller tries
        // the next one; once it is saved, it stands.
        if (compose.created_pdf.empty() || job.nonvabene)
            return failed(std::string(e.what()) + " at step " + std::to_string(step));
        return {CreaPdfResult::Kind::fitted, compose.created_pdf, e.what()};
    }
}

MessageLayout::MessageLayout(const std::string& style_name) : state_(std::make_unique<LayoutState>()) {
    state_->style.name = style_name;
    // One lookup of the style and barcode files for the message's documents.
    state_->styles.keep_for_message();
    state_->barcode.keep_for_message = true;
}

MessageLayout::~MessageLayout() = default;

void MessageLayout::set_style_name(const std::string& name) { state_->style.name = name; }

const std::string& MessageLayout::created_pdf() const { return state_->compose.created_pdf; }

const std::string& MessageLayout::conformance() const { return state_->compose.conformance; }

void MessageLayout::set_attachment_finder(std::function<std::string(const std::string&)> find) {
    state_->compose.find_attachment = std::move(find);
}

const std::string& MessageLayout::refusal() const { return state_->compose.refusal; }

bool MessageLayout::allegatxt() const { return state_->style.allegatxt; }

std::vector<FileProblem> MessageLayout::problems() const {
    std::vector<FileProblem> all = state_->styles.problems();
    add_once(all, state_->overlay.problems);
    add_once(all, state_->barcode.problems);
    add_once(all, state_->compose.problems);
    return all;
}

}  // namespace velarion
