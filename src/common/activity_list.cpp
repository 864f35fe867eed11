#include "common/activity_list.h"

#include "platform/os/text_encoding.h"

namespace velarion {

void ActivityList::add(std::string_view text) {
    // Built once, time stamp and text together; only what can be kept is
    // copied, whatever the length of text.
    text = text.substr(0, kMaxLine);
    std::string line = timestamp();
    line.reserve(line.size() + text.size());
    line.append(text);
    add_raw(std::move(line));
}

void ActivityList::add_raw(std::string line) {
    // Names and lines from the spool may hold any byte: a line feed would
    // forge a second log line, an escape would reach the terminal.
    // Names and lines from the spool may be of any length: the journal keeps
    // the first kMaxLine bytes of each, with a mark that it was cut.
    if (line.size() > kMaxLine) {
        line.resize(kMaxLine - kCutMark.size());
        line += kCutMark;
    }
    lines_.push_back(text::printable(std::move(line)));
    if (on_add_) on_add_(lines_.back());
}

void ActivityList::clear() {
    lines_.clear();
    if (on_clear_) on_clear_();
}

void ActivityList::drop_front(std::size_t n) {
    if (n >= lines_.size()) {
        lines_.clear();
    } else {
        lines_.erase(lines_.begin(), lines_.begin() + static_cast<std::ptrdiff_t>(n));
    }
}

void ActivityList::refresh() const {
    if (on_change_) on_change_();
}

}  // namespace velarion
