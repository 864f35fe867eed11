// The current page style (a section of loghi.ini) and its loader.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/file_problem.h"
#include "platform/os/ini_file.h"

namespace velarion {

struct Runtime;

// A character size a page can be drawn with (points).
inline bool usable_font_size(double points) { return points > 0 && points <= 600; }

// "tipologo": where the text starts.
enum class TextOriginKind {
    standard,      // "" or "0": the type's origin
    above_margin,  // "1": the first row 10 below "margbasso"
    page_corner,   // "2": the page's top left corner, rows 4.2 apart in "12v", no page break by height
};

struct Rgb {
    int red = 0, green = 0, blue = 0;
};

// Where a logo picture is drawn ("altezza", "larghezza", "margsx",
// "margbasso" of its section); no picture is drawn without a height.
struct LogoPlacement {
    bool has_height = false;
    double height = 0, width = 0, x = 0, bottom = 0;  // 0 for a value that is no number
};

// A logo picture of a style: the section it belongs to, its picture name
// (logo folder + name + ".jpg") and its position.
struct StyleLogo {
    std::string section;
    std::string picture;
    LogoPlacement placement;
};

// A row of the substitution table, with "<SPAZIO>" and "Chr(n)" decoded.
struct Substitution {
    std::string search;
    std::string replacement;
};

// A label sheet: labels per row and rows per page, and their spacing.
struct LabelGrid {
    int per_row = 0, rows = 0;
    double step_down = 0, step_across = 0;  // "EtiDeltaVt", "EtiDeltaOr"
};

struct PageSize {
    double width = 210, height = 297;
};

// One style section as typed values, made by the loader: readers take the
// values as they are. A key that is missing, or whose value cannot be used,
// reads as the loader's default (false, nullopt, empty) as an empty key did;
// each value that could not be used is a problem of the style.
struct StyleSettings {
    std::string name;  // the style named for the message or by a directive

    TextOriginKind tipologo = TextOriginKind::standard;
    std::optional<double> margbasso, colonna, riga;
    std::string forzatura;  // forced print type: "", "v", "o" or a type code
    std::vector<StyleLogo> logos;  // "file" of the section, then "file" of its "2logo" section
    bool bold = false;             // "bold" = "y"
    // Overlay files drawn on every new page, and after a page's text.
    std::string fincatura, fincatura2, fincatura3, fincaturadopo;
    std::optional<double> maxpaginalogo;
    std::string maxpaginalogo_text;  // as written, for the activity line
    std::optional<Rgb> text_colour;  // "coloretesto1" to "coloretesto3", when the first is set
    bool nologointerno = false;      // "si": "%logo:" directives are ignored
    bool senzadati = false;          // "s": the form alone, without data
    bool retroscritto = false;       // "si": the back style on alternate pages
    bool allegatxt = false;          // "y": the print file travels beside its PDF
    // Output switches of the key table that no routine reads; kept as written.
    std::string creastampa, creastampaunita, creastampaNO_AO;
    std::string retro;        // style of the back page
    std::string logodiverso;  // style taken from page "logodiversofrompagina" on
    std::optional<int> logodiversofrompagina;
    std::optional<PageSize> page_size;  // "dimpaginalarghezza" x "dimpaginaaltezza"
    std::string filebarcode_ini;        // barcode file name
    std::vector<int> dropped_rows;      // "scartariga1" to "scartariga6"
    std::string formattatesto;          // formatting table file name
    std::optional<double> car_normale, car_compresso, car_espanso, car_espanso_compresso, car_semicompresso;
    std::optional<double> interlinea, altezzapag;
    std::optional<int> lunghpagina;
    std::string dircopy;  // copy folder
    std::optional<LabelGrid> labels;
    std::vector<Substitution> substitutions;  // "rimpiazza"/"rimpcon" rows in row order
    int pdfa = 0;       // "pdfa": 2 for "2b", 3 for "3b" (PDF/A); 0 an ordinary PDF
    int pdfa_line = 0;  // the line of "pdfa" in the file

    bool found = false;                  // the section exists
    std::vector<FileProblem> problems;   // of this section, each once
};

// The "///C" size override of normal and condensed text of a print file;
// kept across style loads. A size no page can be drawn with keeps the style's
// and the type's sizes.
struct SizeOverride {
    bool given = false;
    std::optional<double> size;
};

// loghi.ini for one message: the file as the run last read it (rt.ini_files,
// read again only when it changes on disk: another inode, time or size), and
// each style section made into settings the first time the message asks for it.
class StyleFile {
public:
    // The style file's contents (rt.cfg.style_file), from the run's cache:
    // looked up (a confined open) at every call, or once for the message
    // with keep_for_message.
    const ini::IniContents& contents(const Runtime& rt);
    // The agent's messages take one version of the file for all their
    // documents: one lookup a message instead of several a document.
    void keep_for_message() { keep_ = true; }
    // The message wrote the file: its next look takes the file again.
    void written() { looked_ = false; }
    // The style section `name` as typed settings, without the "///C"
    // override and the "TAFT" rule (back-page, second-logo sections).
    const StyleSettings& section(const Runtime& rt, const std::string& name);
    // Every problem of the sections loaded so far, in load order, each once.
    std::vector<FileProblem> problems() const;
    // Versions of the file this message took (for tests).
    int reads() const { return reads_; }

private:
    std::string path_;
    std::shared_ptr<const ini::IniContents> contents_;
    std::map<std::string, StyleSettings> sections_;  // by lower-case name
    std::vector<FileProblem> problems_;
    int reads_ = 0;
    bool keep_ = false;
    bool looked_ = false;  // looked up for this message (with keep_)
};

// Loads the style named style.name from the style file (every value
// replaced), applies the "///C" size override and the fixed rule for "TAFT".
void LoadStyle(const Runtime& rt, StyleFile& file, StyleSettings& style, const SizeOverride& size);

// Reads the style section `name` into `out` without the overrides or the
// "TAFT" rule (the back-page sections).
void ReadStyleSection(const Runtime& rt, StyleFile& file, const std::string& name, StyleSettings& out);

// The typed settings of one section of an INI file's contents (the loader
// itself; path names the file in problems).
StyleSettings ParseStyleSection(const Runtime& rt, const ini::IniContents& contents, const std::string& path,
                                const std::string& name);

}  // namespace velarion
