// The names of standard fonts the drawing component accepts. Used by the
// PDF writers (the streaming one and the libharu reference).
#pragma once

#include <string_view>

namespace velarion::pdfwriter {

// The base-14 font a name stands for: "/F0" to "/F11" of the font table,
// the base-14 names themselves and the Windows names the layout files use
// ("Arial", "Times", "Courier New", ...); nullptr for any other name.
const char* standard_font(std::string_view name);

}  // namespace velarion::pdfwriter
