// qpdf 11: use std::shared_ptr in its interfaces, without the transition warning.
#define POINTERHOLDER_TRANSITION 4
#include "platform/pdf/archival_pages.h"

#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <algorithm>
#include <bitset>
#include <cstdlib>
#include <map>
#include <set>
#include <sstream>
#include <utility>

#include "platform/pdf/embedded_font_glyphs.h"

namespace velarion::archival_pages {

namespace {

// Actions a PDF/A may not hold.
bool forbidden_action(QPDFObjectHandle action) {
    static const std::set<std::string> names = {"/Launch", "/Sound",        "/Movie",     "/ResetForm",
                                                 "/ImportData", "/JavaScript", "/Hide",   "/SetOCGState",
                                                 "/Rendition", "/Trans",      "/GoTo3DView"};
    if (!action.isDictionary()) return false;
    QPDFObjectHandle s = action.getKey("/S");
    return !s.isName() || names.count(s.getName()) > 0;
}

bool forbidden_annotation(const std::string& subtype) {
    return subtype == "/Sound" || subtype == "/Movie" || subtype == "/Screen" || subtype == "/3D" ||
           subtype == "/RichMedia";
}

// The names a report lists, each once and at most ten: enough to say why.
void add_once(std::vector<std::string>& list, const std::string& name) {
    if (list.size() < 10 && std::find(list.begin(), list.end(), name) == list.end()) list.push_back(name);
}

// A font's name as an activity line may show it: at most 64 bytes, control
// characters (a name may hold any byte) as "?".
std::string font_name(QPDFObjectHandle font, const std::string& key) {
    QPDFObjectHandle base = font.getKey("/BaseFont");
    std::string name = (base.isName() ? base.getName() : key).substr(1, 64);
    for (char& c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return name;
}

QPDFObjectHandle font_program(QPDFObjectHandle font) {
    QPDFObjectHandle d = font.getKey("/FontDescriptor");
    if (!d.isDictionary()) return QPDFObjectHandle::newNull();
    for (const char* key : {"/FontFile", "/FontFile2", "/FontFile3"})
        if (d.getKey(key).isStream()) return d.getKey(key);
    return QPDFObjectHandle::newNull();
}

bool has_font_program(QPDFObjectHandle font) {
    if (font.getKey("/Subtype").isNameAndEquals("/Type3")) return true;  // glyphs drawn by the file itself
    if (font.getKey("/Subtype").isNameAndEquals("/Type0")) {
        QPDFObjectHandle descendants = font.getKey("/DescendantFonts");
        if (!descendants.isArray() || descendants.getArrayNItems() < 1) return false;
        font = descendants.getArrayItem(0);
    }
    return font_program(font).isStream();
}

// A colour space that draws with DeviceCMYK (as itself, as the base of an
// indexed or pattern space, or as the alternate of a separation); an ICC
// space's alternate is only a fallback and does not count.
bool uses_cmyk(QPDFObjectHandle cs, int depth = 0) {
    if (depth > 8) return false;
    if (cs.isName()) return cs.getName() == "/DeviceCMYK" || cs.getName() == "/CMYK";
    if (!cs.isArray() || cs.getArrayNItems() < 1 || !cs.getArrayItem(0).isName()) return false;
    const std::string family = cs.getArrayItem(0).getName();
    if (family == "/Indexed" || family == "/I" || family == "/Pattern") return cs.getArrayNItems() > 1 && uses_cmyk(cs.getArrayItem(1), depth + 1);
    if (family == "/Separation") return cs.getArrayNItems() > 2 && uses_cmyk(cs.getArrayItem(2), depth + 1);
    if (family == "/DeviceN") return cs.getArrayNItems() > 2 && uses_cmyk(cs.getArrayItem(2), depth + 1);
    return false;
}

// A font a content stream shows text in, with the codes it shows.
struct FontUse {
    QPDFObjectHandle font;
    std::string name;
    std::bitset<256> codes;
};

// One content stream (or a page's contents) with the resources it draws with.
struct Unit {
    QPDFObjectHandle content;
    QPDFObjectHandle resources;
    int depth;
};

class Walker {
public:
    explicit Walker(Report& report) : report_(report) {}

    void page(QPDFObjectHandle page) {
        QPDFObjectHandle resources = inherited(page, "/Resources");
        if (page.hasKey("/AA")) {
            page.removeKey("/AA");
            ++report_.actions_removed;
        }
        annotations(page, resources);
        units_.push_back({page.getKey("/Contents"), resources, 0});
        while (!units_.empty()) {
            Unit u = units_.back();
            units_.pop_back();
            walk(u);
        }
    }

    void check_fonts() {
        for (auto& [key, use] : fonts_) check_widths(use);
    }

private:
    static QPDFObjectHandle inherited(QPDFObjectHandle page, const char* key) {
        // The page tree's depth was bounded when it was read; the loop is bounded again here.
        for (int up = 0; page.isDictionary() && up < 256; ++up, page = page.getKey("/Parent"))
            if (page.hasKey(key)) return page.getKey(key);
        return QPDFObjectHandle::newNull();
    }

    bool first_visit(QPDFObjectHandle h) {
        if (!h.isIndirect()) return true;
        return visited_.insert(h.getObjGen()).second;
    }

    void push(QPDFObjectHandle stream, QPDFObjectHandle fallback_resources, int depth) {
        if (!stream.isStream() || !first_visit(stream)) return;
        if (depth > kMaxDepth) {
            report_.too_deep = true;
            return;
        }
        QPDFObjectHandle own = stream.getDict().getKey("/Resources");
        units_.push_back({stream, own.isDictionary() ? own : fallback_resources, depth});
    }

    void annotations(QPDFObjectHandle page, QPDFObjectHandle resources) {
        QPDFObjectHandle annots = page.getKey("/Annots");
        if (!annots.isArray()) return;
        for (int i = annots.getArrayNItems() - 1; i >= 0; --i) {
            QPDFObjectHandle a = annots.getArrayItem(i);
            if (!a.isDictionary()) continue;
            const std::string subtype = a.getKey("/Subtype").isName() ? a.getKey("/Subtype").getName() : "";
            long long flags = a.getKey("/F").isInteger() ? a.getKey("/F").getIntValue() : 0;
            // Hidden annotations are not shown: they go, and so do the kinds a PDF/A may not hold.
            constexpr long long kInvisible = 1, kHidden = 2, kPrint = 4, kNoView = 32, kToggleNoView = 256;
            if (forbidden_annotation(subtype) || (subtype != "/Popup" && (flags & (kInvisible | kHidden | kNoView)))) {
                annots.eraseItem(i);
                ++report_.annotations_removed;
                continue;
            }
            if (subtype != "/Popup" && ((flags & kPrint) == 0 || (flags & kToggleNoView))) {
                a.replaceKey("/F", QPDFObjectHandle::newInteger((flags | kPrint) & ~kToggleNoView));
                ++report_.flags_set;
            }
            if (a.hasKey("/AA")) {
                a.removeKey("/AA");
                ++report_.actions_removed;
            }
            QPDFObjectHandle action = a.getKey("/A");
            if (forbidden_action(action)) {
                a.removeKey("/A");
                ++report_.actions_removed;
            } else if (action.isDictionary() && action.hasKey("/Next")) {
                action.removeKey("/Next");  // a chain may lead to a forbidden action
                ++report_.actions_removed;
            }
            QPDFObjectHandle ap = a.getKey("/AP");
            QPDFObjectHandle normal = ap.isDictionary() ? ap.getKey("/N") : QPDFObjectHandle::newNull();
            if (normal.isNull() && subtype != "/Popup" && subtype != "/Link" && !empty_rect(a.getKey("/Rect")))
                report_.no_appearance = true;
            if (!ap.isDictionary()) continue;
            for (const std::string& key : ap.getKeys()) {
                QPDFObjectHandle v = ap.getKey(key);
                if (v.isStream()) push(v, resources, 1);
                else if (v.isDictionary())
                    for (const std::string& state : v.getKeys()) push(v.getKey(state), resources, 1);
            }
        }
    }

    static bool empty_rect(QPDFObjectHandle r) {
        if (!r.isArray() || r.getArrayNItems() != 4) return false;
        auto n = [&](int i) { return r.getArrayItem(i).isNumber() ? r.getArrayItem(i).getNumericValue() : 0.0; };
        return n(0) == n(2) || n(1) == n(3);
    }

    void walk(Unit u) {
        resources(u.resources, u.depth);
        if (!u.content.isStream() && !u.content.isArray()) return;
        Content callbacks(*this, u.resources);
        try {
            QPDFObjectHandle::parseContentStream(u.content, &callbacks);
        } catch (const std::exception&) {
            report_.unreadable = true;
        }
    }

    void resources(QPDFObjectHandle r, int depth) {
        if (!r.isDictionary() || !first_visit(r)) return;
        QPDFObjectHandle fonts = r.getKey("/Font");
        if (fonts.isDictionary())
            for (const std::string& key : fonts.getKeys()) {
                QPDFObjectHandle font = fonts.getKey(key);
                if (!font.isDictionary()) continue;
                if (!has_font_program(font)) add_once(report_.fonts_not_embedded, font_name(font, key));
                if (font.getKey("/Subtype").isNameAndEquals("/Type3") && first_visit(font)) {
                    QPDFObjectHandle procs = font.getKey("/CharProcs");
                    if (procs.isDictionary())
                        for (const std::string& glyph : procs.getKeys()) {
                            QPDFObjectHandle own = font.getKey("/Resources");
                            push(procs.getKey(glyph), own.isDictionary() ? own : r, depth + 1);
                        }
                }
            }
        QPDFObjectHandle xobjects = r.getKey("/XObject");
        if (xobjects.isDictionary())
            for (const std::string& key : xobjects.getKeys()) {
                QPDFObjectHandle x = xobjects.getKey(key);
                if (!x.isStream()) continue;
                QPDFObjectHandle d = x.getDict();
                if (d.getKey("/Subtype").isNameAndEquals("/Form")) push(x, r, depth + 1);
                else if (uses_cmyk(d.getKey("/ColorSpace"))) report_.device_cmyk = true;
            }
        QPDFObjectHandle patterns = r.getKey("/Pattern");
        if (patterns.isDictionary())
            for (const std::string& key : patterns.getKeys()) {
                QPDFObjectHandle p = patterns.getKey(key);
                if (p.isStream()) push(p, r, depth + 1);  // a tiling pattern draws like a form
                else if (p.isDictionary() && p.getKey("/Shading").isDictionary() &&
                         uses_cmyk(p.getKey("/Shading").getKey("/ColorSpace")))
                    report_.device_cmyk = true;
            }
        for (const char* kind : {"/ColorSpace", "/Shading"}) {
            QPDFObjectHandle spaces = r.getKey(kind);
            if (!spaces.isDictionary()) continue;
            for (const std::string& key : spaces.getKeys()) {
                QPDFObjectHandle cs = spaces.getKey(key);
                if (std::string(kind) == "/Shading") cs = cs.isStream() ? cs.getDict().getKey("/ColorSpace") : cs.getKey("/ColorSpace");
                if (uses_cmyk(cs)) report_.device_cmyk = true;
            }
        }
        QPDFObjectHandle states = r.getKey("/ExtGState");
        if (states.isDictionary())
            for (const std::string& key : states.getKeys()) {
                QPDFObjectHandle mask = states.getKey(key).isDictionary() ? states.getKey(key).getKey("/SMask")
                                                                          : QPDFObjectHandle::newNull();
                if (mask.isDictionary()) push(mask.getKey("/G"), r, depth + 1);
            }
    }

    // The operators of one content stream that matter here: colour, fonts and text.
    class Content : public QPDFObjectHandle::ParserCallbacks {
    public:
        Content(Walker& w, QPDFObjectHandle resources) : w_(w), resources_(std::move(resources)) {}
        void handleObject(QPDFObjectHandle obj) override {
            if (!obj.isOperator()) {
                operands_.push_back(obj);
                return;
            }
            const std::string op = obj.getOperatorValue();
            if (op == "k" || op == "K") w_.report_.device_cmyk = true;
            else if ((op == "cs" || op == "CS") && !operands_.empty() && uses_cmyk(operands_.back())) w_.report_.device_cmyk = true;
            else if (op == "ID") {
                // An inline picture: its dictionary's entries are the operands.
                for (std::size_t i = 0; i + 1 < operands_.size(); ++i)
                    if (operands_[i].isName() && (operands_[i].getName() == "/CS" || operands_[i].getName() == "/ColorSpace") &&
                        uses_cmyk(operands_[i + 1]))
                        w_.report_.device_cmyk = true;
            } else if (op == "Tf" && !operands_.empty() && operands_.front().isName()) {
                font_ = nullptr;
                QPDFObjectHandle fonts = resources_.isDictionary() ? resources_.getKey("/Font") : QPDFObjectHandle::newNull();
                const std::string key = operands_.front().getName();
                if (fonts.isDictionary() && fonts.getKey(key).isDictionary()) font_ = &w_.use_of(fonts.getKey(key), key);
            } else if (op == "Tj" || op == "'") {
                if (!operands_.empty()) shown(operands_.back());
            } else if (op == "\"") {
                if (!operands_.empty()) shown(operands_.back());
            } else if (op == "TJ" && !operands_.empty() && operands_.back().isArray()) {
                QPDFObjectHandle parts = operands_.back();
                for (int i = 0; i < parts.getArrayNItems(); ++i) shown(parts.getArrayItem(i));
            }
            operands_.clear();
        }
        void handleEOF() override {}

    private:
        void shown(QPDFObjectHandle s) {
            if (!font_ || !s.isString()) return;
            for (const char c : s.getStringValue()) font_->codes.set(static_cast<unsigned char>(c));
        }
        Walker& w_;
        QPDFObjectHandle resources_;
        std::vector<QPDFObjectHandle> operands_;
        FontUse* font_ = nullptr;
    };

    FontUse& use_of(QPDFObjectHandle font, const std::string& key) {
        const QPDFObjGen id = font.isIndirect() ? font.getObjGen() : QPDFObjGen(-1 - static_cast<int>(fonts_.size()), 0);
        auto [it, added] = fonts_.try_emplace(std::make_pair(id.getObj(), id.getGen()));
        if (added) {
            it->second.font = font;
            it->second.name = font_name(font, key);
        }
        return it->second;
    }

    // The widths of a simple font's shown codes against its program, and no
    // code drawn with the missing glyph.
    void check_widths(const FontUse& use) {
        QPDFObjectHandle font = use.font;
        const std::string subtype = font.getKey("/Subtype").isName() ? font.getKey("/Subtype").getName() : "";
        if (subtype != "/TrueType" && subtype != "/Type1" && subtype != "/MMType1") return;
        QPDFObjectHandle program = font_program(font);
        if (!program.isStream() || use.codes.none()) return;
        embedded_font::Encoding enc;
        enc.truetype = subtype == "/TrueType";
        QPDFObjectHandle d = font.getKey("/FontDescriptor");
        enc.symbolic = d.getKey("/Flags").isInteger() && (d.getKey("/Flags").getIntValue() & 4);
        QPDFObjectHandle e = font.getKey("/Encoding");
        QPDFObjectHandle base = e.isDictionary() ? e.getKey("/BaseEncoding") : e;
        if (base.isNameAndEquals("/WinAnsiEncoding")) enc.base = embedded_font::Encoding::Base::win_ansi;
        else if (base.isNameAndEquals("/MacRomanEncoding")) enc.base = embedded_font::Encoding::Base::mac_roman;
        else if (base.isNameAndEquals("/StandardEncoding")) enc.base = embedded_font::Encoding::Base::standard;
        else if (e.isDictionary() && !enc.symbolic) enc.base = embedded_font::Encoding::Base::standard;
        QPDFObjectHandle diff = e.isDictionary() ? e.getKey("/Differences") : QPDFObjectHandle::newNull();
        if (diff.isArray()) {
            long long code = 0;
            for (int i = 0; i < diff.getArrayNItems(); ++i) {
                QPDFObjectHandle item = diff.getArrayItem(i);
                if (item.isInteger()) code = item.getIntValue();
                else if (item.isName() && code >= 0 && code < 256) enc.differences[code++] = item.getName().substr(1);
            }
        }
        std::string bytes;
        try {
            const std::shared_ptr<Buffer> data = program.getStreamData(qpdf_dl_generalized);
            bytes.assign(reinterpret_cast<const char*>(data->getBuffer()), data->getSize());
        } catch (const std::exception&) {
            report_.unreadable = true;
            return;
        }
        const auto glyphs = embedded_font::glyphs(bytes, enc);
        if (!glyphs) {
            add_once(report_.wrong_widths, use.name);  // a program no reader can use
            return;
        }
        QPDFObjectHandle widths = font.getKey("/Widths");
        const long long first = font.getKey("/FirstChar").isInteger() ? font.getKey("/FirstChar").getIntValue() : 0;
        const double missing = d.getKey("/MissingWidth").isNumber() ? d.getKey("/MissingWidth").getNumericValue() : 0;
        for (int code = 0; code < 256; ++code) {
            if (!use.codes.test(code)) continue;
            const embedded_font::Glyph& g = (*glyphs)[code];
            if (!g.known) continue;
            if (g.index == 0) {
                add_once(report_.missing_glyphs, use.name);
                continue;
            }
            double declared = missing;
            if (widths.isArray() && code >= first && code - first < widths.getArrayNItems() &&
                widths.getArrayItem(static_cast<int>(code - first)).isNumber())
                declared = widths.getArrayItem(static_cast<int>(code - first)).getNumericValue();
            if (std::abs(declared - g.width) > 1) add_once(report_.wrong_widths, use.name);
        }
    }

    Report& report_;
    std::vector<Unit> units_;
    std::set<QPDFObjGen> visited_;
    std::map<std::pair<int, int>, FontUse> fonts_;
};

std::vector<std::string> split(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string item; std::getline(in, item, '\t');) out.push_back(item);
    return out;
}

}  // namespace

bool Report::conforms() const {
    return fonts_not_embedded.empty() && wrong_widths.empty() && missing_glyphs.empty() && !device_cmyk &&
           !no_appearance && !too_deep && !unreadable;
}

void check(QPDF&, const std::vector<QPDFObjectHandle>& pages, Report& report) {
    Walker w(report);
    for (const QPDFObjectHandle& p : pages) w.page(p);
    w.check_fonts();
}

std::string Report::to_text() const {
    std::string t;
    auto list = [&](const char* key, const std::vector<std::string>& names) {
        if (names.empty()) return;
        t += key;
        for (const std::string& n : names) t += "\t" + n;
        t += "\n";
    };
    list("fonts", fonts_not_embedded);
    list("widths", wrong_widths);
    list("glyphs", missing_glyphs);
    t += "flags\t" + std::to_string(device_cmyk) + "\t" + std::to_string(no_appearance) + "\t" +
         std::to_string(too_deep) + "\t" + std::to_string(unreadable) + "\n";
    t += "fixed\t" + std::to_string(actions_removed) + "\t" + std::to_string(annotations_removed) + "\t" +
         std::to_string(flags_set) + "\n";
    return t;
}

Report Report::from_text(const std::string& text) {
    Report r;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> f = split(line);
        if (f.empty()) continue;
        const std::string key = f.front();
        f.erase(f.begin());
        auto flag = [&](std::size_t i) { return i < f.size() && f[i] == "1"; };
        auto number = [&](std::size_t i) { return i < f.size() ? std::atoi(f[i].c_str()) : 0; };
        if (key == "fonts") r.fonts_not_embedded = f;
        else if (key == "widths") r.wrong_widths = f;
        else if (key == "glyphs") r.missing_glyphs = f;
        else if (key == "flags") {
            r.device_cmyk = flag(0);
            r.no_appearance = flag(1);
            r.too_deep = flag(2);
            r.unreadable = flag(3);
        } else if (key == "fixed") {
            r.actions_removed = number(0);
            r.annotations_removed = number(1);
            r.flags_set = number(2);
        }
    }
    return r;
}

}  // namespace velarion::archival_pages
