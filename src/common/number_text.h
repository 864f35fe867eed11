// Numbers of the layout files (styles, formatting tables, logo positions).
#pragma once

#include <optional>
#include <string>

namespace velarion {

// A number written with "." or "," (blanks ignored); nullopt when not a number.
std::optional<double> to_number(const std::string& text);

}  // namespace velarion
