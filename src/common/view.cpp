#include "common/view.h"

#include "platform/os/text_encoding.h"

namespace velarion {

// The program's own boxes break their text into lines with "\n"; every other
// control character (a CR, an escape, a NUL from a spool name) is shown as "?".
void View::message_box(const std::string& text) {
    std::string shown;
    shown.reserve(text.size());
    std::size_t start = 0;
    for (;;) {
        const auto nl = text.find('\n', start);
        shown += text::printable(text.substr(start, nl == std::string::npos ? std::string::npos : nl - start));
        if (nl == std::string::npos) break;
        shown += '\n';
        start = nl + 1;
    }
    show_message_box(shown);
}

}  // namespace velarion
