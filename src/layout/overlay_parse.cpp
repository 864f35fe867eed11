// Splitting of overlay lines into fields and of texts into words.
#include "common/runtime.h"
#include "layout/overlay.h"
#include "layout/overlay_support.h"

namespace velarion {

std::string NormalizeDecimal(const Runtime& rt, const std::string& text) {
    if (rt.cfg.host.decimal_separator != ",") return text;
    std::string out = text;
    for (char& c : out)
        if (c == '.') c = ',';
    return out;
}

TabFields SplitTabFields(const std::string& line) {
    TabFields out;
    std::size_t start = 0;
    int n = 1;
    for (;;) {
        const std::size_t tab = line.find('\t', start);
        out.field[n] = line.substr(start, tab == std::string::npos ? std::string::npos : tab - start);
        out.count = n;
        // The text after the fifteenth TAB is dropped.
        if (tab == std::string::npos || n == 15) break;
        start = tab + 1;
        ++n;
    }
    if (out.count > 0 && out.field[out.count].empty()) --out.count;
    return out;
}

int SplitWords(const std::string& text, WordTable& words) {
    words.fill(std::string());
    int stored = 0;
    auto store = [&](std::string word) {
        if (stored == static_cast<int>(words.size())) overlay::throw_out_of_range();
        words[stored++] = std::move(word);
    };
    std::string word;
    for (char c : text) {
        word += c;
        if (c == ' ') {
            store(std::move(word));
            word.clear();
        }
    }
    if (!word.empty()) store(std::move(word));
    return stored - 1;
}

}  // namespace velarion
