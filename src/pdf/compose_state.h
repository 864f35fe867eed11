// The composition state of one message, reset piece by piece as each
// document starts (see CreaPdf).
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "layout/logo.h"
#include "layout/style.h"
#include "pdf/factur_x.h"

namespace velarion {

class PdfDocument;

struct ComposeState {
    std::string created_pdf;  // path of the PDF the last CreaPdf call made

    // Filled by the line loop, used when the document is saved.
    std::vector<std::string> merge_list;  // "///M" lines, at most 10
    std::string lsfilecrea;               // "CREAFILE:" copy target

    // "///C" size override of normal and condensed text; kept across style loads.
    SizeOverride size_override;

    // Logos of the current style in the current document.
    std::vector<LogoImage> logos;
    // Monospaced font used for text: 0 none, 1 "MonoCondensedATT Bold", 2 "MonoCondensed Bold".
    int mono_font = 0;

    // What the formatting tables read so far could not use, each once.
    std::vector<FileProblem> problems;

    // The file of an attachment of the message by its name ("" when the
    // message has none of that name); empty: no attachments to look in.
    std::function<std::string(const std::string&)> find_attachment;
    // Why the message must not go out (a "///X" invoice that is refused, a
    // PDF/A that cannot be made); once set, every composition of the message fails.
    std::string refusal;
    // The invoice a "///X" line named, read and checked once for the
    // message (every print type tried uses it), and that line's name.
    std::optional<FacturXInvoice> invoice;
    std::string invoice_name;
    // "PDF/A-2b", "PDF/A-3b" for the document last saved; "" for an ordinary PDF.
    std::string conformance;

    // Makes the drawing object of each document; empty means make_pdf_document().
    std::function<std::unique_ptr<PdfDocument>()> make_document;
};

}  // namespace velarion
