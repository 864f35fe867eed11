// Naming, saving and protecting the composed PDF.
#pragma once

#include <string>
#include <vector>

#include "common/file_problem.h"
#include "common/version.h"

namespace velarion {

namespace ini {
struct IniContents;
}

struct Runtime;
class PdfDocument;

inline constexpr const char* kAuthor = "Velarion";

// The input path without its last four characters and ".pdf"; the body of a
// fax ("base.b") becomes base + ".PDF", the name message processing expects.
std::string output_path_for(const std::string& input_path);

// The "Keywords" text: version, print type, monospaced font, source path.
std::string build_keywords(const std::string& print_type, int mono_font, const std::string& input_path);

// A fresh modification password: six random digits, the date "yyyyddmm" and
// letters of the output name.
std::string modification_password(const Runtime& rt, const std::string& output_path);

// The section "PDFCRIPT" of loghi.ini: "Password" (at least four characters
// ask for a fresh password per document), "PasswordFISSA" (a fixed one) and
// "Cifratura": "AES256" for AES-256 (PDF 2.0), "" or "RC4" for 40-bit RC4.
struct Protection {
    std::string password, fixed;
    bool aes256 = false;
    std::vector<FileProblem> problems;  // a "Cifratura" that is neither (RC4 is used)
    bool wanted() const { return password.size() >= 4 || !fixed.empty(); }
};
Protection read_protection(const ini::IniContents& style_file, const std::string& path);

// Protects the saved PDF with the outside tool "encryptpdf" when the section
// "PDFCRIPT" of loghi.ini (as read for the message) asks for it. A failure
// leaves the plain PDF and logs it.
void protect_pdf(Runtime& rt, const std::string& output_path, const Protection& protection);

}  // namespace velarion
