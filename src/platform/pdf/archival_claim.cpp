// qpdf 11: use std::shared_ptr in its interfaces, without the transition warning.
#define POINTERHOLDER_TRANSITION 4
#include "platform/pdf/archival_claim.h"

#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <regex>
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

// The pdfaid properties as elements ("<pdfaid:part>2</pdfaid:part>") and as
// attributes ("pdfaid:part='2'"), whatever the prefix's spelling of quotes.
const std::regex& pdfaid_element() {
    static const std::regex re(R"(<pdfaid:([A-Za-z]+)\s*>[^<]*</pdfaid:\1\s*>\s*)");
    return re;
}
const std::regex& pdfaid_attribute() {
    static const std::regex re(R"(\s+pdfaid:[A-Za-z]+\s*=\s*("[^"]*"|'[^']*'))");
    return re;
}

}  // namespace

bool claimed(QPDF& pdf) {
    QPDFObjectHandle root = pdf.getRoot();
    QPDFObjectHandle intents = root.getKey("/OutputIntents");
    if (intents.isArray())
        for (int i = 0; i < intents.getArrayNItems(); ++i)
            if (is_pdfa_intent(intents.getArrayItem(i))) return true;
    return metadata_text(root.getKey("/Metadata")).find("pdfaid:") != std::string::npos;
}

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
    std::string plain = std::regex_replace(xmp, pdfaid_element(), "");
    plain = std::regex_replace(plain, pdfaid_attribute(), "");
    metadata.replaceStreamData(plain, QPDFObjectHandle::newNull(), QPDFObjectHandle::newNull());
}

}  // namespace velarion::archival_claim
