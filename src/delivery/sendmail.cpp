#include "delivery/sendmail.h"

#include "startup/context.h"

namespace velarion {

// Placeholder until the mail layer is built: nothing is delivered.
bool sendmail(Context& ctx, const DeliveryRequest&) {
    ctx.list.add(" Trasporto di posta non disponibile");
    return false;
}

}  // namespace velarion
