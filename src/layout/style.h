// The current page style (a section of loghi.ini) and its loader.
#pragma once

#include <string>

namespace velarion {

struct Context;

struct StyleSettings {
    std::string name;  // the style named for the message or by a directive
};

}  // namespace velarion
