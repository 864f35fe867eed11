// The Factur-X reader on invoice XML bytes: every input is accepted with a
// known level or refused with a reason of bounded length; no DOCTYPE, other
// encoding or entity gets through.
#include <cstdlib>
#include <string>

#include "fuzz_support.h"
#include "pdf/factur_x.h"

using namespace velarion;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    FacturXInvoice invoice;
    std::string refusal;
    if (read_factur_x(bytes, invoice, refusal)) {
        // What goes out is the input as it is, with a level the reader knows.
        if (invoice.xml != bytes || invoice.level.empty()) std::abort();
        if (invoice.relationship != "Data" && invoice.relationship != "Alternative") std::abort();
        if (bytes.starts_with("\xFE\xFF") || bytes.starts_with("\xFF\xFE")) std::abort();  // UTF-16 is refused
    } else if (refusal.empty() || refusal.size() > 1024) {
        std::abort();  // every refusal says why, briefly: it goes into activity lines and motivo.txt
    }
    return 0;
}
