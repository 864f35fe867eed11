// leggi_file_messaggio: one message, just moved into the work directory,
// read into a delivery request and delivered (or handed to the prepare
// directory). A message that cannot be delivered is kept below "non_inviati".
#pragma once

#include <string>

namespace velarion {

struct Context;

void leggi_file_messaggio(Context& ctx, const std::string& lsFile_origine);

}  // namespace velarion
