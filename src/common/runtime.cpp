#include "common/runtime.h"

namespace velarion {

void Runtime::trace(const std::string& text) const {
    if (cfg.sw.debug()) view.message_box(text);
}

void Runtime::trace_line(const std::string& text) const {
    if (cfg.sw.debug()) list.add(text);
}

}  // namespace velarion
