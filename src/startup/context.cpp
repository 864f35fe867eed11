#include "startup/context.h"

#include "platform/paths.h"

namespace velarion {

std::string Context::ini_path() const {
    const std::string path = paths::native(paths::with_separator(sw.ini)) + "velarion.ini";
    // A file copied from a Windows installation may be named in another case ("VELARION.INI").
    const std::string found = paths::resolve(path);
    return found.empty() ? path : found;
}

void Context::trace(const std::string& text) {
    if (sw.debug()) view.message_box(text);
}

void Context::trace_line(const std::string& text) {
    if (sw.debug()) list.add(text);
}

}  // namespace velarion
