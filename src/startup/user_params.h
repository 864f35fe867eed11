// Leggi_Param_Utenti: loads the operator's keys of velarion.ini (and the
// "CDO" keys) into the settings and derives the values every routine reads
// (work, spool and logo folders, style file, "ParGenerali" flags, account).
#pragma once

#include <string>

#include "common/settings.h"

namespace velarion {

struct Agent;

void Leggi_Param_Utenti(Agent& a);

}  // namespace velarion
