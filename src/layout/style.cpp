#include "layout/style.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <set>

#include "common/ini_cache.h"
#include "common/number_text.h"
#include "common/runtime.h"
#include "layout/overlay.h"
#include "layout/overlay_support.h"
#include "platform/os/text_encoding.h"

namespace velarion {

namespace {

// The print types a style may force ("9o" only by a style), besides "v" and "o".
constexpr const char* kForcedTypes[] = {"14o", "12v", "12o", "10v", "10o-", "10o", "8v",  "9o",
                                        "8o",  "7v",  "6v",  "6o",  "6o-",  "altro"};

// The keys of a style section besides "scartariga1" to "scartariga6" and the
// substitution rows; "altezza", "larghezza", "margsx" place the logo, and
// "commento" is the note the "TAFT" rule writes.
constexpr const char* kKnownKeys[] = {
    "tipologo", "margbasso", "colonna", "riga", "forzatura", "file", "bold", "fincatura", "fincatura2",
    "fincatura3", "fincaturadopo", "2logo", "maxpaginalogo", "coloretesto1", "coloretesto2",
    "coloretesto3", "nologointerno", "creastampa", "creastampaunita", "creastampano_ao", "senzadati",
    "retro", "retroscritto", "allegatxt", "logodiverso", "logodiversofrompagina", "dimpaginaaltezza",
    "dimpaginalarghezza", "filebarcode_ini", "formattatesto", "car_normale", "car_compresso",
    "car_espanso", "car_espanso_compresso", "car_semicompresso", "interlinea", "lunghpagina",
    "altezzapag", "dircopy", "etideltavt", "etideltaor", "etivt", "etior", "altezza", "larghezza",
    "margsx", "commento", "pdfa"};

// The keys of one section by lower-case name, with the line of each, and the
// problems found while they are made into values.
class SectionReader {
public:
    SectionReader(const ini::IniSection* section, const std::string& path, const std::string& name,
                  std::vector<FileProblem>& problems)
        : path_(path), name_(name), problems_(problems) {
        if (!section) return;
        for (const auto& e : section->entries) entries_[text::lower(e.key)] = &e;
    }

    int line(const std::string& key) const {
        const ini::IniEntry* e = entry(key);
        return e ? e->line : 0;
    }
    std::string text(const std::string& key) const {
        const ini::IniEntry* e = entry(key);
        return e ? e->value : std::string();
    }
    bool has(const std::string& key) const { return !text(key).empty(); }

    void problem(const std::string& key, const std::string& what) const {
        const ini::IniEntry* e = entry(key);
        problems_.push_back({path_, e ? e->line : 0, "[" + name_ + "] " + (e ? e->key : key) + ": " + what});
    }
    void bad_value(const std::string& key, const std::string& what) const {
        problem(key, "'" + text(key) + "' " + what);
    }

    // A number; an empty key reads as none silently.
    std::optional<double> number(const std::string& key) const {
        const std::string t = text(key);
        if (t.empty()) return std::nullopt;
        auto v = to_number(t);
        if (!v) bad_value(key, "is not a number");
        return v;
    }
    // A number in a range; one outside reads as none.
    template <class Ok>
    std::optional<double> number_if(const std::string& key, Ok ok, const char* range) const {
        auto v = number(key);
        if (v && !ok(*v)) {
            bad_value(key, range);
            return std::nullopt;
        }
        return v;
    }
    // A whole number from 1 up (its whole part); anything else reads as none.
    std::optional<int> count(const std::string& key) const {
        const std::string t = text(key);
        if (t.empty()) return std::nullopt;
        if (!to_number(t)) {
            bad_value(key, "is not a number");
            return std::nullopt;
        }
        auto v = to_whole_number(t, 1, INT_MAX);
        if (!v) bad_value(key, "is not a whole number from 1 up");
        return v;
    }
    // A switch that is on for one value; "n", "no" and empty are off quietly.
    bool flag(const std::string& key, const char* on) const {
        const std::string t = text(key);
        if (t == on) return true;
        if (!t.empty() && t != "n" && t != "no")
            bad_value(key, std::string("is not '") + on + "' (read as off)");
        return false;
    }
    // Every key of the section that is not one of `known` and passes no `also`.
    template <class Also>
    void unknown_keys(Also also) const {
        const std::set<std::string> known(std::begin(kKnownKeys), std::end(kKnownKeys));
        for (const auto& [lower, e] : entries_)
            if (!known.count(lower) && !also(lower))
                problems_.push_back({path_, e->line, "[" + name_ + "] " + e->key + ": unknown key (ignored)"});
    }

private:
    const ini::IniEntry* entry(const std::string& key) const {
        auto it = entries_.find(text::lower(key));
        return it == entries_.end() ? nullptr : it->second;
    }

    std::string path_, name_;
    std::vector<FileProblem>& problems_;
    std::map<std::string, const ini::IniEntry*> entries_;
};

// A colour component: held within 0-255, 0 when it is no number.
int colour_component(const SectionReader& r, const std::string& key) {
    const std::string t = r.text(key);
    if (t.empty()) return 0;
    const auto v = to_number(t);
    if (!v) {
        r.bad_value(key, "is not a number (read as 0)");
        return 0;
    }
    const int c = to_whole_number_clamped(t, 0, 255, 0);
    if (std::trunc(*v) != c) r.bad_value(key, "is outside 0-255 (held within)");
    return c;
}

LogoPlacement placement(const SectionReader& r) {
    LogoPlacement p;
    p.has_height = r.has("altezza");
    p.height = r.number("altezza").value_or(0);
    p.width = r.number("larghezza").value_or(0);
    p.x = r.number("margsx").value_or(0);
    p.bottom = r.number("margbasso").value_or(0);
    return p;
}

// The search text and replacement of a row as the line loop applies them.
Substitution decoded(std::string search, std::string replacement) {
    auto replace_all = [](std::string& s, const std::string& from, const std::string& to) {
        for (std::size_t p = s.find(from); p != std::string::npos; p = s.find(from, p + to.size()))
            s.replace(p, from.size(), to);
    };
    replace_all(search, "<SPAZIO>", " ");
    replace_all(replacement, "<SPAZIO>", " ");
    replace_all(replacement, "Chr(14) & Chr(15)", "\x0e\x0f");
    replace_all(replacement, "Chr(14)", "\x0e");
    replace_all(replacement, "Chr(18)", "\x12");
    replace_all(replacement, "Chr(15)", "\x0f");
    replace_all(replacement, "Chr(12)", "\x0c");
    return {std::move(search), std::move(replacement)};
}

// "scartariga1" to "scartariga6", "rimpiazza1" to "rimpiazza40", "rimpcon1" to "rimpcon40".
bool numbered_key(const std::string& lower) {
    auto row = [&](const char* prefix, int last) {
        const std::string p = prefix;
        if (lower.rfind(p, 0) != 0 || lower.size() == p.size() || lower.size() > p.size() + 2) return false;
        const std::string digits = lower.substr(p.size());
        if (digits[0] == '0') return false;
        for (char c : digits)
            if (c < '0' || c > '9') return false;
        const int n = std::stoi(digits);
        return n >= 1 && n <= last;
    };
    return row("scartariga", 6) || row("rimpiazza", 40) || row("rimpcon", 40);
}

}  // namespace

StyleSettings ParseStyleSection(const Runtime& rt, const ini::IniContents& contents, const std::string& path,
                                const std::string& name) {
    StyleSettings s;
    s.name = name;
    const ini::IniSection* section = contents.section(name);
    s.found = section != nullptr;
    if (!section) {
        s.problems.push_back({path, 0, "[" + name + "] no such style (its settings read as empty)"});
        return s;
    }
    const SectionReader r(section, path, name, s.problems);

    const std::string origin = r.text("tipologo");
    if (origin == "1") s.tipologo = TextOriginKind::above_margin;
    else if (origin == "2") s.tipologo = TextOriginKind::page_corner;
    else if (!origin.empty() && origin != "0") r.bad_value("tipologo", "is not 0, 1 or 2 (read as 0)");
    s.margbasso = r.number("margbasso");
    s.colonna = r.number("colonna");
    s.riga = r.number("riga");

    s.forzatura = r.text("forzatura");
    if (!s.forzatura.empty() && s.forzatura != "v" && s.forzatura != "o" &&
        std::find_if(std::begin(kForcedTypes), std::end(kForcedTypes),
                     [&](const char* t) { return s.forzatura == t; }) == std::end(kForcedTypes))
        r.bad_value("forzatura", "is not v, o or a print type (every type is refused)");

    if (r.has("file")) s.logos.push_back({name, r.text("file"), placement(r)});
    if (const std::string second = r.text("2logo"); !second.empty()) {
        std::vector<FileProblem> second_problems;  // reported when that section is loaded itself
        const SectionReader r2(contents.section(second), path, second, second_problems);
        if (!contents.section(second)) r.bad_value("2logo", "names no section of the file");
        else if (r2.has("file")) s.logos.push_back({second, r2.text("file"), placement(r2)});
    }

    s.bold = r.flag("bold", "y");
    s.fincatura = r.text("fincatura");
    s.fincatura2 = r.text("fincatura2");
    s.fincatura3 = r.text("fincatura3");
    s.fincaturadopo = r.text("fincaturadopo");
    s.maxpaginalogo = r.number("maxpaginalogo");
    s.maxpaginalogo_text = r.text("maxpaginalogo");
    if (r.has("coloretesto1"))
        s.text_colour = Rgb{colour_component(r, "coloretesto1"), colour_component(r, "coloretesto2"),
                            colour_component(r, "coloretesto3")};
    s.nologointerno = r.flag("nologointerno", "si");
    s.senzadati = r.flag("senzadati", "s");
    s.retroscritto = r.flag("retroscritto", "si");
    s.allegatxt = r.flag("allegatxt", "y");
    s.creastampa = r.text("creastampa");
    s.creastampaunita = r.text("creastampaunita");
    s.creastampaNO_AO = r.text("creastampaNO_AO");
    // The back style's name is passed through NormalizeDecimal like the numbers.
    s.retro = NormalizeDecimal(rt, r.text("retro"));
    s.logodiverso = r.text("logodiverso");
    s.logodiversofrompagina = r.count("logodiversofrompagina");

    if (r.has("dimpaginaaltezza")) {
        // A side that is not a positive number is the A4 portrait one.
        auto positive = [](double v) { return v > 0; };
        const auto w = r.number_if("dimpaginalarghezza", positive, "is not above 0 (read as 210)");
        const auto h = r.number_if("dimpaginaaltezza", positive, "is not above 0 (read as 297)");
        s.page_size = PageSize{w.value_or(210), h.value_or(297)};
    } else if (r.has("dimpaginalarghezza")) {
        r.problem("dimpaginalarghezza", "has no dimpaginaaltezza beside it (ignored)");
    }

    s.filebarcode_ini = r.text("filebarcode_ini");
    for (int i = 1; i <= 6; ++i)
        if (auto row = r.count("scartariga" + std::to_string(i))) s.dropped_rows.push_back(*row);
    s.formattatesto = r.text("formattatesto");

    // A size no page can be drawn with keeps the table value.
    const char* size_range = "is not a size above 0 and up to 600 (the type's size is used)";
    s.car_normale = r.number_if("car_normale", usable_font_size, size_range);
    s.car_compresso = r.number_if("car_compresso", usable_font_size, size_range);
    s.car_espanso = r.number_if("car_espanso", usable_font_size, size_range);
    s.car_espanso_compresso = r.number_if("car_espanso_compresso", usable_font_size, size_range);
    s.car_semicompresso = r.number_if("car_semicompresso", usable_font_size, size_range);
    // So does a length that is not positive.
    auto positive = [](double v) { return v > 0; };
    s.interlinea = r.number_if("interlinea", positive, "is not above 0 (the type's pitch is used)");
    s.altezzapag = r.number_if("altezzapag", positive, "is not above 0 (the type's height is used)");
    s.lunghpagina = r.count("lunghpagina");
    s.dircopy = r.text("dircopy");

    const auto per_row = r.count("EtiOr"), rows = r.count("EtiVt");
    const auto down = r.number("EtiDeltaVt"), across = r.number("EtiDeltaOr");
    if (per_row && rows && down && across) s.labels = LabelGrid{*per_row, *rows, *down, *across};

    for (int i = 1; i <= 40; ++i) {
        const std::string search = r.text("rimpiazza" + std::to_string(i));
        if (!search.empty()) s.substitutions.push_back(decoded(search, r.text("rimpcon" + std::to_string(i))));
    }
    if (const std::string a = text::lower(r.text("pdfa")); a == "2b" || a == "3b") {
        s.pdfa = a[0] - '0';
        s.pdfa_line = r.line("pdfa");
    } else if (!a.empty()) {
        r.bad_value("pdfa", "is not 2b or 3b (an ordinary PDF is made)");
    }
    r.unknown_keys(numbered_key);
    // In the order of the file, as someone reading it goes.
    std::stable_sort(s.problems.begin(), s.problems.end(),
                     [](const FileProblem& x, const FileProblem& y) { return x.line < y.line; });
    return s;
}

const ini::IniContents& StyleFile::contents(const Runtime& rt) {
    if (keep_ && looked_ && contents_ && rt.cfg.style_file == path_) return *contents_;
    looked_ = true;
    // Opened confined to the style folders, as every file a style names.
    auto file = rt.ini_files.get(rt.cfg.style_file, overlay::StyleRoots(rt));
    // Another version of the file (or another file): its sections are made again.
    if (file != contents_ || rt.cfg.style_file != path_) {
        if (file->refused) rt.list.add(" File di stile fuori dalle cartelle ammesse " + rt.cfg.style_file);
        contents_ = std::move(file);
        path_ = rt.cfg.style_file;
        sections_.clear();
        ++reads_;
    }
    return *contents_;
}

const StyleSettings& StyleFile::section(const Runtime& rt, const std::string& name) {
    const ini::IniContents& c = contents(rt);
    const std::string key = text::lower(name);
    auto it = sections_.find(key);
    if (it == sections_.end()) {
        // Made once for the run from this version of the file (as named, in
        // the run's decimal notation), and again once the file changes.
        std::shared_ptr<const StyleSettings> made;
        IniCache::Made* kept = rt.ini_files.made_from(path_, contents_);
        const std::string made_key = "style " + rt.cfg.host.decimal_separator + " " + name;
        if (kept) {
            auto& slot = (*kept)[made_key];
            if (!slot) slot = std::make_shared<const StyleSettings>(ParseStyleSection(rt, c, path_, name));
            made = std::static_pointer_cast<const StyleSettings>(slot);
        }
        it = sections_.emplace(key, made ? *made : ParseStyleSection(rt, c, path_, name)).first;
        for (const auto& p : it->second.problems)
            if (std::find(problems_.begin(), problems_.end(), p) == problems_.end()) problems_.push_back(p);
    }
    return it->second;
}

std::vector<FileProblem> StyleFile::problems() const { return problems_; }

void ReadStyleSection(const Runtime& rt, StyleFile& file, const std::string& name, StyleSettings& out) {
    const std::string wanted = name;  // name may be out.name itself
    out = file.section(rt, wanted);
    out.name = wanted;
}

void LoadStyle(const Runtime& rt, StyleFile& file, StyleSettings& s, const SizeOverride& c) {
    ReadStyleSection(rt, file, s.name, s);

    // The "///C" size override of the print file wins over the style.
    if (c.given) {
        s.car_normale = c.size;
        s.car_compresso = c.size;
    }

    // "TAFT" without a forced type is the invoice listing: fixed settings,
    // written back so that the file documents them.
    if (s.name == "TAFT" && s.forzatura.empty()) {
        s.forzatura = "10o-";
        s.tipologo = TextOriginKind::page_corner;
        s.car_compresso = 6.01;
        s.colonna = 5;
        // One replacement of the file for the five keys; a failing write is ignored.
        ini::write_values("TAFT",
                          {{"commento", "non cancellare usato per tabulato FATT con ZEMOR1 .. LOGO DA CODICE"},
                           {"forzatura", "10o-"},
                           {"tipologo", "2"},
                           {"car_compresso", "6.01"},
                           {"colonna", "5"}},
                          rt.cfg.style_file);
        file.written();
    }
}

}  // namespace velarion
