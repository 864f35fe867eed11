// The fonts registered in the current document, so that each is registered
// once per document whoever asks for it (monospaced text, barcodes); a font
// that could not be registered is not looked for again in that document
// (a barcode on every line would look for a missing font file each time).
#pragma once

#include <set>
#include <string>

namespace velarion {

class RegisteredFonts {
public:
    bool contains(const std::string& name) const { return names_.count(name) != 0; }
    // Registers the font through `add` (true when the document accepted it)
    // unless it already was, or registering it from the file `file` already
    // failed; true when the font is usable.
    template <class Add>
    bool ensure(const std::string& name, const std::string& file, Add&& add) {
        if (contains(name)) return true;
        const std::string attempt = name + '\n' + file;
        if (missing_.count(attempt) != 0) return false;
        if (!add()) {
            missing_.insert(attempt);
            return false;
        }
        names_.insert(name);
        return true;
    }
    void clear() {
        names_.clear();
        missing_.clear();
    }

private:
    std::set<std::string> names_;
    std::set<std::string> missing_;  // name and file that failed in this document
};

}  // namespace velarion
