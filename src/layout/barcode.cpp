#include "layout/barcode.h"

#include "startup/context.h"

namespace velarion {

// Placeholders until barcodes are built.
void ReadBarcodeSettings(Context&, const std::string&) {}
void DrawBarcode(Context&, PdfDocument&, std::string, double, double) {}

}  // namespace velarion
