// The fonts registered in the current document, so that each is registered
// once per document whoever asks for it (monospaced text, barcodes).
#pragma once

#include <set>
#include <string>

namespace velarion {

class RegisteredFonts {
public:
    bool contains(const std::string& name) const { return names_.count(name) != 0; }
    // Registers the font through `add` (true when the document accepted it)
    // unless it already was; true when the font is usable.
    template <class Add>
    bool ensure(const std::string& name, Add&& add) {
        if (contains(name)) return true;
        if (!add()) return false;
        names_.insert(name);
        return true;
    }
    void clear() { names_.clear(); }

private:
    std::set<std::string> names_;
};

}  // namespace velarion
