// The barcode text encoders and the bar renderer: the first byte picks the
// encoder (and the return type of the automatic Code 128), the rest is the
// data; the encoded string is drawn as bars onto a recording document.
#include "fuzz_support.h"
#include "layout/barcode_bars.h"
#include "layout/barcode_encoders.h"
#include "layout/code128.h"
#include "layout/overlay_fake_doc.h"

using namespace velarion;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    std::string encoded;
    const char* kind = "code128";
    switch (data[0] % 8) {
        case 0: encoded = Code128a(text), kind = "code128a"; break;
        case 1: encoded = Code128b(text), kind = "code128b"; break;
        case 2: encoded = I2of5(text), kind = "i2of5"; break;
        case 3: encoded = Code39(text), kind = "code39"; break;
        case 4: encoded = Code128(text, 0); break;
        case 5: encoded = Code128(text, 1); break;
        case 6: encoded = Code128(text, 2); break;
        default: encoded = Code128Output(kCode128StartC, text), kind = "code128c"; break;
    }
    BarSymbology symbology;
    if (SymbologyForKind(kind, symbology)) {
        BarModules(symbology, encoded);
        testing::RecordingDoc doc;
        DrawBars(doc, symbology, encoded, 10, 20, 12, (data[0] >> 3) * 45.0);
    }
    return 0;
}
