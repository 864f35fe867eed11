// Taking the PDF/A claim off a document that is no longer one (merged pages
// that do not conform, an encrypted copy): the pdfaid properties of its XMP
// metadata and its PDF/A output intent. Works on a document qpdf has open.
#pragma once

class QPDF;

namespace velarion::archival_claim {

// Removes the pdfaid properties (elements and attributes) from the XMP
// metadata of the catalogue and the GTS_PDFA1 output intents; the rest of
// the metadata stays as it was.
void remove(QPDF& pdf);

}  // namespace velarion::archival_claim
