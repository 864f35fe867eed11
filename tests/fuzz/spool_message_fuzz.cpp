// leggi_file_messaggio on a message in the work folder, delivered to a
// recorder: the parts "h", "b" and "0" to "7" are the header, the body and
// the attachment contents; the first byte's bits choose the delivery option
// rules ("tipoinvio", "cdo:"), "NORIF", prepare mode and the delivery's result.
#include <exception>

#include "delivery/delivery_request.h"
#include "fuzz_support.h"
#include "spool/message.h"

using namespace velarion;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static fuzz::Context c;
    if (size < 1) return 0;
    c.reset();
    const std::uint8_t flags = data[0];
    static const char* const kModes[] = {"PER MESSAGGIO", "SEMPRE SEND", "SEMPRE SAVE", ""};
    c.cfg.op.tipoinvio = kModes[flags & 3];
    c.cfg.sw.smtp_component = (flags & 4) != 0;
    c.cfg.op.ParGenerali = std::string((flags & 8) ? "NORIF " : "") +
                           ((flags & 16) ? "PREPARA:" + fuzz::work_root() + "prepara;" : "");
    c.cfg.derive();
    fuzz::empty_folder(fuzz::work_root() + "prepara/");
    auto parts = fuzz::split_parts(data + 1, size - 1);
    for (const char* ext : {"h", "b", "0", "1", "2", "3", "4", "5", "6", "7"}) {
        auto it = parts.find(ext);
        if (it != parts.end()) fuzz::write_bytes(c.work + "AB.1." + ext, it->second);
    }
    const bool delivered = flags & 32;
    std::size_t requests = 0;
    try {
        leggi_file_messaggio(
            c.rt,
            [&](const DeliveryRequest&) {
                ++requests;
                return delivered ? DeliveryOutcome{Delivered::yes} : DeliveryOutcome{Delivered::failed, "non consegnato"};
            },
            "AB.1");
    } catch (const std::exception&) {
        // leggi_file_messaggio keeps its errors to itself; one escaping is a finding
        std::abort();
    }
    c.report();
    return 0;
}
