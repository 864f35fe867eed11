// qpdf 11: use std::shared_ptr in its interfaces, without the transition warning.
#define POINTERHOLDER_TRANSITION 4
#include "platform/pdf/archival_claim.h"

#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <cctype>
#include <string>

namespace velarion::archival_claim {

namespace {

std::string metadata_text(QPDFObjectHandle metadata) {
    if (!metadata.isStream()) return "";
    const std::shared_ptr<Buffer> data = metadata.getStreamData(qpdf_dl_generalized);
    return std::string(reinterpret_cast<const char*>(data->getBuffer()), data->getSize());
}

bool is_pdfa_intent(QPDFObjectHandle intent) {
    return intent.isDictionary() && intent.getKey("/S").isNameAndEquals("/GTS_PDFA1");
}

// The XMP without its pdfaid properties, as elements
// ("<pdfaid:part>2</pdfaid:part>") and as attributes (pdfaid:part="2").
// Scanned by hand: the metadata may come from a merged file, and std::regex
// recurses once per character matched.
std::string without_pdfaid(const std::string& xmp) {
    std::string out;
    out.reserve(xmp.size());
    std::size_t at = 0;
    for (std::size_t p; (p = xmp.find("pdfaid:", at)) != std::string::npos;) {
        std::size_t name_end = p + 7;
        while (name_end < xmp.size() && std::isalpha(static_cast<unsigned char>(xmp[name_end]))) ++name_end;
        const std::string name = xmp.substr(p + 7, name_end - p - 7);
        if (p > 0 && xmp[p - 1] == '<' && !name.empty()) {
            // An element: up to its end tag and the blanks after it.
            const std::string end_tag = "</pdfaid:" + name + ">";
            const std::size_t end = xmp.find(end_tag, name_end);
            if (end != std::string::npos) {
                out.append(xmp, at, p - 1 - at);
                at = end + end_tag.size();
                while (at < xmp.size() && std::isspace(static_cast<unsigned char>(xmp[at]))) ++at;
                continue;
            }
        }
        std::size_t q = name_end;
        while (q < xmp.size() && std::isspace(static_cast<unsigned char>(xmp[q]))) ++q;
        if (!name.empty() && q < xmp.size() && xmp[q] == '=') {
            // An attribute: with the blanks before it and its quoted value.
            std::size_t v = q + 1;
            while (v < xmp.size() && std::isspace(static_cast<unsigned char>(xmp[v]))) ++v;
            const std::size_t close = v < xmp.size() && (xmp[v] == '"' || xmp[v] == '\'') ? xmp.find(xmp[v], v + 1)
                                                                                         : std::string::npos;
            if (close != std::string::npos) {
                std::size_t start = p;
                while (start > at && std::isspace(static_cast<unsigned char>(xmp[start - 1]))) --start;
                out.append(xmp, at, start - at);
                at = close + 1;
                continue;
            }
        }
        // Anything else (the namespace declaration "xmlns:pdfaid=") stays.
        out.append(xmp, at, name_end - at);
        at = name_end;
    }
    out.append(xmp, at, std::string::npos);
    return out;
}

}  // namespace

void remove(QPDF& pdf) {
    QPDFObjectHandle root = pdf.getRoot();
    QPDFObjectHandle intents = root.getKey("/OutputIntents");
    if (intents.isArray()) {
        for (int i = intents.getArrayNItems() - 1; i >= 0; --i)
            if (is_pdfa_intent(intents.getArrayItem(i))) intents.eraseItem(i);
        if (intents.getArrayNItems() == 0) root.removeKey("/OutputIntents");
    }
    QPDFObjectHandle metadata = root.getKey("/Metadata");
    const std::string xmp = metadata_text(metadata);
    if (xmp.find("pdfaid:") == std::string::npos) return;
    metadata.replaceStreamData(without_pdfaid(xmp), QPDFObjectHandle::newNull(), QPDFObjectHandle::newNull());
}

}  // namespace velarion::archival_claim
