// CreaPdf: one print file into a PDF with one print type.
#pragma once

#include <memory>
#include <string>

namespace velarion {

struct Runtime;
struct LayoutState;
struct PreAnalysis;

// The print types message processing tries, largest first.
inline constexpr const char* kPrintTypes[] = {"14o", "12v", "12o", "10v", "10o-", "10o", "8v",
                                              "8o",  "7v",  "6v",  "6o",  "6o-",  "altro"};

// Returns NONVABENE: true when the type was refused, the text did not fit or
// the file is empty (try the next type); false when the PDF was made, its
// path then in layout.compose.created_pdf. pre is the print file's pre-analysis.
bool CreaPdf(Runtime& rt, LayoutState& layout, const PreAnalysis& pre, const std::string& input_path,
             const std::string& print_type, const std::string& file_name);

// The layout state of one message, owned by message processing for that
// message: the style it names, overlays, barcodes and what the compositions
// made. Only the PDF routines see inside it.
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
    // "allegatxt" of the style last loaded is "y": print files travel beside their PDFs.
    bool allegatxt() const;

private:
    std::unique_ptr<LayoutState> state_;
};

}  // namespace velarion
