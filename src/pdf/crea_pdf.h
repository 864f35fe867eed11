// CreaPdf: composes one print file into a PDF with one print type.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/file_problem.h"

namespace velarion {

struct Runtime;
struct LayoutState;
struct PreAnalysis;

// The print types message processing tries, largest first.
inline constexpr const char* kPrintTypes[] = {"14o", "12v", "12o", "10v", "10o-", "10o", "8v",
                                              "8o",  "7v",  "6v",  "6o",  "6o-",  "altro"};

// What one CreaPdf call came to. Every kind but `fitted` means "try the
// next print type" (the original's NONVABENE = True).
struct CreaPdfResult {
    enum class Kind {
        fitted,   // the document was made with this type
        refused,  // the style or the pre-analysis refused the type, or a line did not fit
        failed,   // the print file is empty or unreadable, or composing failed: `reason`
    };
    Kind kind = Kind::refused;
    std::string pdf;     // fitted: the PDF made ("" when there was no text and nothing to merge)
    std::string reason;  // failed: what went wrong
    bool fitted() const { return kind == Kind::fitted; }
};

// One print file with one print type; pre is the print file's pre-analysis.
// The PDF made is also in layout.compose.created_pdf.
CreaPdfResult CreaPdf(Runtime& rt, LayoutState& layout, const PreAnalysis& pre, const std::string& input_path,
             const std::string& print_type, const std::string& file_name);

// The layout state of one message, owned by message processing for that
// message: the style it names, overlays, barcodes and what the compositions
// made. Only the PDF routines see inside it. The style file and the
// barcode file are looked up once for the message (one version of each for
// all its documents).
class MessageLayout {
public:
    explicit MessageLayout(const std::string& style_name = "");
    ~MessageLayout();
    MessageLayout(const MessageLayout&) = delete;
    MessageLayout& operator=(const MessageLayout&) = delete;

    LayoutState& state() { return *state_; }

    // The style the message names (header line 6); "" for none.
    void set_style_name(const std::string& name);

    // The PDF the last CreaPdf call made ("" when none).
    const std::string& created_pdf() const;
    // Its conformance: "PDF/A-2b", "PDF/A-3b", "" for an ordinary PDF.
    const std::string& conformance() const;
    // Where a "///X" line finds an attachment of the message by its name.
    void set_attachment_finder(std::function<std::string(const std::string&)> find);
    // Why the message must not go out ("" when nothing stands in its way).
    const std::string& refusal() const;
    // "allegatxt" of the style last loaded is "y": print files travel beside their PDFs.
    bool allegatxt() const;
    // Every problem found so far in the style file, the overlays, the
    // barcode files and the formatting tables the message's compositions
    // read, each once.
    std::vector<FileProblem> problems() const;

private:
    std::unique_ptr<LayoutState> state_;
};

}  // namespace velarion
