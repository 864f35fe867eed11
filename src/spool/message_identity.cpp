#include "spool/message_identity.h"

#include <unistd.h>

#include <cstdio>
#include <random>

#include "spool/queue.h"
#include "spool/queue_record.h"

namespace velarion::spool {

namespace {

// Letters, digits and the few marks an atom of RFC 5322 allows that are safe
// in a file name and an ENVID too.
std::string atom_text(const std::string& s) {
    std::string out;
    for (unsigned char c : s) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                        c == '-' || c == '_';
        out += ok ? static_cast<char>(c) : '_';
    }
    while (!out.empty() && out.front() == '.') out.erase(0, 1);
    while (!out.empty() && out.back() == '.') out.pop_back();
    std::string collapsed;  // no ".." in a dot-atom
    for (char c : out)
        if (!(c == '.' && !collapsed.empty() && collapsed.back() == '.')) collapsed += c;
    return collapsed.empty() ? "msg" : collapsed;
}

std::string host_name() {
    char host[256] = {0};
    if (gethostname(host, sizeof host - 1) != 0 || !*host) return "localhost";
    return atom_text(host);
}

}  // namespace

std::string make_message_id(const std::string& base) {
    static const std::string host = host_name();
    // Seeded once from the system's entropy: a new source per message costs more than the message's header.
    thread_local std::mt19937_64 rng(std::random_device{}());
    const unsigned long long r = rng();
    char token[16];
    std::snprintf(token, sizeof token, "%012llx", r & 0xffffffffffffULL);
    return atom_text(base) + "." + token + "@" + host;
}

MessageIdentity message_identity(SpoolQueue& queue, const std::string& trigger, const std::string& base,
                                 bool write_now) {
    QueueRecord rec = queue.record(trigger);
    MessageIdentity id;
    id.maybe_stored = rec.tries > 0 || rec.interruptions > 0 || rec.delivering;
    if (rec.message_id.empty()) {
        rec.message_id = make_message_id(base);
        // Not synced, like the mark of a delivery under way: a power cut can
        // only lose it together with any trace of the try. Appended, so the
        // record's other keys stay as they were read.
        if (write_now) queue.append_record(trigger, message_id_lines(rec.message_id));
        id.unwritten = !write_now;
    }
    id.message_id = rec.message_id;
    return id;
}

}  // namespace velarion::spool
