// The current page style (a section of loghi.ini) and its loader.
#pragma once

#include <array>
#include <string>

namespace velarion {

struct Runtime;

// One value per key of a style section; a missing key reads as "".
// Number keys are stored after NormalizeDecimal.
struct StyleSettings {
    std::string name;  // the style named for the message or by a directive

    std::string tipologo, margbasso, colonna, riga, forzatura, file, bold;
    std::string fincatura, fincatura2, fincatura3, fincaturadopo;
    std::string secondo_logo;  // "2logo"
    std::string maxpaginalogo;
    std::string coloretesto1, coloretesto2, coloretesto3;
    std::string nologointerno, creastampa, creastampaunita, creastampaNO_AO, senzadati;
    std::string retro, retroscritto, allegatxt, logodiverso, logodiversofrompagina;
    std::string dimpaginaaltezza, dimpaginalarghezza, filebarcode_ini;
    std::array<std::string, 7> scartariga;  // 1 to 6
    std::string formattatesto;
    std::string car_normale, car_compresso, car_espanso, car_espanso_compresso, car_semicompresso;
    std::string interlinea, lunghpagina, altezzapag, dircopy;
    std::string EtiDeltaVt, EtiDeltaOr, EtiVt, EtiOr;
    // Substitution table, rows 1 to 40: search text and replacement.
    std::array<std::string, 41> rimpiazza, rimpcon;
};

// The "///C" size override of normal and condensed text of a print file;
// kept across style loads.
struct SizeOverride {
    std::string normal;
    std::string condensed;
};

// Loads the style named style.name from the style file (every key replaced),
// applies the "///C" size override and the fixed rule for "TAFT".
void LoadStyle(const Runtime& rt, StyleSettings& style, const SizeOverride& size);

// Reads the style section `name` into `out` without the overrides or the
// "TAFT" rule (the back-page and second-logo sections).
void ReadStyleSection(const Runtime& rt, const std::string& name, StyleSettings& out);

}  // namespace velarion
