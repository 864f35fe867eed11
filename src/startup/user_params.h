// Leggi_Param_Utenti: loads the operator's keys of velarion.ini (and the
// "CDO" keys) into ctx.op and derives the Outlook version.
#pragma once

#include <string>

namespace velarion {

struct Context;

void Leggi_Param_Utenti(Context& ctx);

// The Outlook version held in "ParGenerali" ("" without an Outlook token).
std::string outlook_version_of(const std::string& par_generali);

}  // namespace velarion
