// A sent message written into the spool again for new recipients, from the
// record of sent messages and the documents and body kept with it: a new
// base name (the old one with "R" and a number), a header that names the new
// recipients and the kept documents, the trigger last. The record of the
// first message stays as it is; the new one's record says which it replaces.
#pragma once

#include <string>

namespace velarion::spool {

struct ResendResult {
    bool ok = false;
    std::string base;  // the new message's base name
    std::string text;  // what was done, or why not
};

// `to`: ";"-separated addresses. Looks at the days the record keeps from `since`.
ResendResult resend(const std::string& spool, const std::string& work, int since, const std::string& base,
                    const std::string& to);

}  // namespace velarion::spool
