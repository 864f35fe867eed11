// Factur-X / ZUGFeRD: the Cross Industry Invoice XML of a message carried
// inside its PDF/A-3 as "factur-x.xml", with the XMP properties that name it.
#pragma once

#include <string>

namespace velarion {

class PdfDocument;

inline constexpr const char* kFacturXFileName = "factur-x.xml";

// An invoice XML that may go out: its bytes, its conformance level
// ("MINIMUM", "BASIC WL", "BASIC", "EN 16931", "EXTENDED", "XRECHNUNG")
// and the relationship of the file to the document.
struct FacturXInvoice {
    std::string xml;
    std::string level;
    std::string relationship;  // "Data" for MINIMUM and BASIC WL, else "Alternative"
};

// Reads the invoice XML bytes; an XML that is not well-formed, whose root is
// not a Cross Industry Invoice or whose guideline is not a Factur-X one is
// refused with the reason in `refusal`.
bool read_factur_x(const std::string& bytes, FacturXInvoice& invoice, std::string& refusal);

// The conformance level of a guideline identifier, "" for one not known.
std::string factur_x_level(const std::string& guideline);

// Embeds the invoice into doc (archival part 3) with its XMP extension schema.
void embed_factur_x(PdfDocument& doc, const FacturXInvoice& invoice);

}  // namespace velarion
