#include "layout/style.h"

#include <map>

#include "common/runtime.h"
#include "layout/overlay.h"
#include "platform/ini_file.h"
#include "platform/paths.h"
#include "platform/text_encoding.h"

namespace velarion {

namespace {

enum class Kind { text, number };

struct KeyField {
    const char* key;
    std::string StyleSettings::*field;
    Kind kind;
};

// The key table of a style section.
const KeyField kKeys[] = {
    {"tipologo", &StyleSettings::tipologo, Kind::text},
    {"margbasso", &StyleSettings::margbasso, Kind::number},
    {"colonna", &StyleSettings::colonna, Kind::number},
    {"riga", &StyleSettings::riga, Kind::number},
    {"forzatura", &StyleSettings::forzatura, Kind::text},
    {"file", &StyleSettings::file, Kind::text},
    {"bold", &StyleSettings::bold, Kind::text},
    {"fincatura", &StyleSettings::fincatura, Kind::text},
    {"fincatura2", &StyleSettings::fincatura2, Kind::text},
    {"fincatura3", &StyleSettings::fincatura3, Kind::text},
    {"fincaturadopo", &StyleSettings::fincaturadopo, Kind::text},
    {"2logo", &StyleSettings::secondo_logo, Kind::text},
    {"maxpaginalogo", &StyleSettings::maxpaginalogo, Kind::text},
    {"coloretesto1", &StyleSettings::coloretesto1, Kind::text},
    {"coloretesto2", &StyleSettings::coloretesto2, Kind::text},
    {"coloretesto3", &StyleSettings::coloretesto3, Kind::text},
    {"nologointerno", &StyleSettings::nologointerno, Kind::text},
    {"creastampa", &StyleSettings::creastampa, Kind::text},
    {"creastampaunita", &StyleSettings::creastampaunita, Kind::text},
    {"creastampaNO_AO", &StyleSettings::creastampaNO_AO, Kind::text},
    {"senzadati", &StyleSettings::senzadati, Kind::text},
    {"retro", &StyleSettings::retro, Kind::number},
    {"retroscritto", &StyleSettings::retroscritto, Kind::text},
    {"allegatxt", &StyleSettings::allegatxt, Kind::text},
    {"logodiverso", &StyleSettings::logodiverso, Kind::text},
    {"logodiversofrompagina", &StyleSettings::logodiversofrompagina, Kind::text},
    {"dimpaginaaltezza", &StyleSettings::dimpaginaaltezza, Kind::text},
    {"dimpaginalarghezza", &StyleSettings::dimpaginalarghezza, Kind::text},
    {"filebarcode_ini", &StyleSettings::filebarcode_ini, Kind::text},
    {"formattatesto", &StyleSettings::formattatesto, Kind::text},
    {"car_normale", &StyleSettings::car_normale, Kind::number},
    {"car_compresso", &StyleSettings::car_compresso, Kind::number},
    {"car_espanso", &StyleSettings::car_espanso, Kind::number},
    {"car_espanso_compresso", &StyleSettings::car_espanso_compresso, Kind::number},
    {"car_semicompresso", &StyleSettings::car_semicompresso, Kind::number},
    {"interlinea", &StyleSettings::interlinea, Kind::number},
    {"lunghpagina", &StyleSettings::lunghpagina, Kind::number},
    {"altezzapag", &StyleSettings::altezzapag, Kind::number},
    {"dircopy", &StyleSettings::dircopy, Kind::text},
    {"EtiDeltaVt", &StyleSettings::EtiDeltaVt, Kind::number},
    {"EtiDeltaOr", &StyleSettings::EtiDeltaOr, Kind::number},
    {"EtiVt", &StyleSettings::EtiVt, Kind::text},
    {"EtiOr", &StyleSettings::EtiOr, Kind::text},
};

}  // namespace

void ReadStyleSection(const Runtime& rt, const std::string& name, StyleSettings& out) {
    // 2. and 3. The section is read once; key names compare without case.
    std::map<std::string, std::string> values;
    for (auto& [k, v] : ini::read_section(name, rt.cfg.style_file)) values.emplace(text::lower(k), v);
    auto get = [&](const std::string& key) {
        auto it = values.find(text::lower(key));
        return it == values.end() ? std::string() : it->second;
    };
    StyleSettings s;
    s.name = name;
    for (const auto& k : kKeys) {
        std::string v = get(k.key);
        s.*(k.field) = k.kind == Kind::number ? NormalizeDecimal(rt, v) : v;
    }
    for (int i = 1; i <= 6; ++i) s.scartariga[i] = get("scartariga" + std::to_string(i));
    for (int i = 1; i <= 40; ++i) {
        s.rimpiazza[i] = get("rimpiazza" + std::to_string(i));
        s.rimpcon[i] = get("rimpcon" + std::to_string(i));
    }
    out = std::move(s);
}

void LoadStyle(const Runtime& rt, StyleSettings& s, const SizeOverride& c) {
    ReadStyleSection(rt, s.name, s);

    // 4. The "///C" size override of the print file wins over the style.
    if (!c.normal.empty()) {
        s.car_normale = c.normal;
        s.car_compresso = c.condensed;
    }

    // 5. "TAFT" without a forced type is the invoice listing: fixed settings,
    // written back so that the file documents them.
    if (s.name == "TAFT" && s.forzatura.empty()) {
        s.forzatura = "10o-";
        s.tipologo = "2";
        s.car_compresso = NormalizeDecimal(rt, "6.01");
        s.colonna = "5";
        // One replacement of the file for the five keys; a failing write is ignored.
        ini::write_values("TAFT",
                          {{"commento", "non cancellare usato per tabulato FATT con ZEMOR1 .. LOGO DA CODICE"},
                           {"forzatura", "10o-"},
                           {"tipologo", "2"},
                           {"car_compresso", "6.01"},
                           {"colonna", "5"}},
                          rt.cfg.style_file);
    }
}

}  // namespace velarion
