// controllo_dll: checks the PDF drawing and merging components and records
// which editions are usable (a.settings.pdf) with their activity lines.
#pragma once

namespace velarion {

struct Agent;

void controllo_dll(Agent& a);

}  // namespace velarion
