#include "startup/context.h"

#include "platform/paths.h"

namespace velarion {

std::string Context::ini_path() const { return paths::native(paths::with_separator(sw.ini)) + "velarion.ini"; }

void Context::trace(const std::string& text) {
    if (sw.debug()) view.message_box(text);
}

void Context::trace_line(const std::string& text) {
    if (sw.debug()) list.add(text);
}

}  // namespace velarion
