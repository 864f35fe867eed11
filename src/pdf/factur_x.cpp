#include "pdf/factur_x.h"

#include "platform/pdf/pdf_document.h"
#include "platform/os/text_encoding.h"
#include "platform/pdf/xml_document.h"

namespace velarion {

namespace {

constexpr const char* kRsm = "urn:un:unece:uncefact:data:standard:CrossIndustryInvoice:100";
constexpr const char* kRam = "urn:un:unece:uncefact:data:standard:ReusableAggregateBusinessInformationEntity:100";

bool ends_with(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// A value of the invoice as a reason quotes it: its first 200 bytes (the
// reason goes into the activity list and the parked message's motivo.txt).
std::string shown(const std::string& value) {
    constexpr std::size_t kShown = 200;
    return value.size() <= kShown ? value : value.substr(0, kShown) + "...";
}

}  // namespace

std::string factur_x_level(const std::string& guideline) {
    const std::string g = text::lower(text::trim(guideline));
    if (g == "urn:factur-x.eu:1p0:minimum") return "MINIMUM";
    if (g == "urn:factur-x.eu:1p0:basicwl") return "BASIC WL";
    if (g.rfind("urn:cen.eu:en16931:2017", 0) != 0) return "";
    if (g == "urn:cen.eu:en16931:2017") return "EN 16931";
    if (ends_with(g, ":basic")) return "BASIC";
    if (ends_with(g, ":extended")) return "EXTENDED";
    if (g.find("xrechnung") != std::string::npos) return "XRECHNUNG";
    return "";
}

bool read_factur_x(const std::string& bytes, FacturXInvoice& invoice, std::string& refusal) {
    const xml::Document doc = xml::Document::parse(bytes);
    switch (doc.problem()) {
        case xml::Document::Problem::none: break;
        case xml::Document::Problem::doctype:
            // Factur-X readers refuse such invoices too: no DTD, no entity.
            refusal = "the XML has a DOCTYPE declaration (no DTD or entity is accepted in an e-invoice)";
            return false;
        case xml::Document::Problem::not_utf8:
            refusal = "the XML is not UTF-8 (" + shown(doc.error()) + ")";
            return false;
        case xml::Document::Problem::malformed:
            refusal = "the XML is not well-formed (" + shown(doc.error()) + ")";
            return false;
    }
    const xml::Name root = doc.root();
    if (root != xml::Name{kRsm, "CrossIndustryInvoice"}) {
        refusal = "the XML is not a Cross Industry Invoice (its root is " +
                  shown(root.ns.empty() ? root.local : "{" + root.ns + "}" + root.local) + ")";
        return false;
    }
    const std::string guideline = doc.text({{kRsm, "ExchangedDocumentContext"},
                                            {kRam, "GuidelineSpecifiedDocumentContextParameter"},
                                            {kRam, "ID"}});
    const std::string level = factur_x_level(guideline);
    if (level.empty()) {
        refusal = guideline.empty() ? "the invoice names no guideline (GuidelineSpecifiedDocumentContextParameter)"
                                    : "the invoice's guideline " + shown(text::trim(guideline)) + " is not a Factur-X profile";
        return false;
    }
    invoice.xml = bytes;
    invoice.level = level;
    invoice.relationship = level == "MINIMUM" || level == "BASIC WL" ? "Data" : "Alternative";
    return true;
}

void embed_factur_x(PdfDocument& doc, const FacturXInvoice& invoice) {
    doc.EmbedFile({kFacturXFileName, invoice.xml, "text/xml", invoice.relationship, "Factur-X invoice"});
    auto property = [](const char* name, const char* description) {
        return std::string("<rdf:li rdf:parseType=\"Resource\">\n<pdfaProperty:name>") + name +
               "</pdfaProperty:name>\n<pdfaProperty:valueType>Text</pdfaProperty:valueType>\n"
               "<pdfaProperty:category>external</pdfaProperty:category>\n<pdfaProperty:description>" +
               description + "</pdfaProperty:description>\n</rdf:li>\n";
    };
    std::string x =
        "<rdf:Description rdf:about=\"\" xmlns:pdfaExtension=\"http://www.aiim.org/pdfa/ns/extension/\"\n"
        " xmlns:pdfaSchema=\"http://www.aiim.org/pdfa/ns/schema#\"\n"
        " xmlns:pdfaProperty=\"http://www.aiim.org/pdfa/ns/property#\">\n"
        "<pdfaExtension:schemas>\n<rdf:Bag>\n<rdf:li rdf:parseType=\"Resource\">\n"
        "<pdfaSchema:schema>Factur-X PDFA Extension Schema</pdfaSchema:schema>\n"
        "<pdfaSchema:namespaceURI>urn:factur-x:pdfa:CrossIndustryDocument:invoice:1p0#</pdfaSchema:namespaceURI>\n"
        "<pdfaSchema:prefix>fx</pdfaSchema:prefix>\n<pdfaSchema:property>\n<rdf:Seq>\n";
    x += property("DocumentFileName", "name of the embedded XML invoice file");
    x += property("DocumentType", "INVOICE");
    x += property("Version", "The actual version of the Factur-X XML schema");
    x += property("ConformanceLevel", "The conformance level of the embedded Factur-X data");
    x += "</rdf:Seq>\n</pdfaSchema:property>\n</rdf:li>\n</rdf:Bag>\n</pdfaExtension:schemas>\n</rdf:Description>\n";
    x += "<rdf:Description rdf:about=\"\" xmlns:fx=\"urn:factur-x:pdfa:CrossIndustryDocument:invoice:1p0#\">\n"
         "<fx:DocumentType>INVOICE</fx:DocumentType>\n<fx:DocumentFileName>" +
         std::string(kFacturXFileName) + "</fx:DocumentFileName>\n<fx:Version>1.0</fx:Version>\n<fx:ConformanceLevel>" +
         invoice.level + "</fx:ConformanceLevel>\n</rdf:Description>\n";
    doc.AddXmpDescriptions(x);
}

}  // namespace velarion
