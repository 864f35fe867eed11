// leggi_file_messaggio: one message, just moved into the work directory,
// read into a delivery request and delivered (or handed to the prepare
// directory). A message that cannot be delivered is kept below "non_inviati".
#pragma once

#include <functional>
#include <string>

namespace velarion {

struct Runtime;
struct DeliveryRequest;

// Hands a message on to its transport; true when it was delivered.
using MessageDelivery = std::function<bool(const DeliveryRequest&)>;

void leggi_file_messaggio(Runtime& rt, const MessageDelivery& deliver, const std::string& lsFile_origine);

}  // namespace velarion
