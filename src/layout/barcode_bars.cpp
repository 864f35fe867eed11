#include "layout/barcode_bars.h"

#include <cmath>
#include <cstring>
#include <algorithm>

#include "layout/barcode_encoders.h"
#include "platform/pdf/pdf_document.h"

namespace velarion {

namespace {

// Code 128 symbol patterns by value (0-105: six elements; 106: the stop, seven).
constexpr const char* kCode128Patterns[107] = {
    "212222", "222122", "222221", "121223", "121322", "131222", "122213", "122312", "132212",
    "221213", "221312", "231212", "112232", "122132", "122231", "113222", "123122", "123221",
    "223211", "221132", "221231", "213212", "223112", "312131", "311222", "321122", "321221",
    "312212", "322112", "322211", "212123", "212321", "232121", "111323", "131123", "131321",
    "112313", "132113", "132311", "211313", "231113", "231311", "112133", "112331", "132131",
    "113123", "113321", "133121", "313121", "211331", "231131", "213113", "213311", "213131",
    "311123", "311321", "331121", "312113", "312311", "332111", "314111", "221411", "431111",
    "111224", "111422", "121124", "121421", "141122", "141221", "112214", "112412", "122114",
    "122411", "142112", "142211", "241211", "221114", "413111", "241112", "134111", "111242",
    "121142", "121241", "114212", "124112", "124211", "411212", "421112", "421211", "212141",
    "214121", "412121", "111143", "111341", "131141", "114113", "114311", "411113", "411311",
    "113141", "114131", "311141", "411131", "211412", "211214", "211232", "2331112"};

// Code 39: nine elements per character, a set bit (first element highest) is wide.
constexpr const char kCode39Alphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-. $/+%*";
constexpr int kCode39Patterns[44] = {
    0x034, 0x121, 0x061, 0x160, 0x031, 0x130, 0x070, 0x025, 0x124, 0x064, 0x109, 0x049,
    0x148, 0x019, 0x118, 0x058, 0x00D, 0x10C, 0x04C, 0x01C, 0x103, 0x043, 0x142, 0x013,
    0x112, 0x052, 0x007, 0x106, 0x046, 0x016, 0x181, 0x0C1, 0x1C0, 0x091, 0x190, 0x0D0,
    0x085, 0x184, 0x0C4, 0x0A8, 0x0A2, 0x08A, 0x02A, 0x094};

// Interleaved 2 of 5: five elements per digit, "1" is wide.
constexpr const char* kI2of5Digits[10] = {"00110", "10001", "01001", "11000", "00101",
                                          "10100", "01100", "00011", "10010", "01010"};
constexpr int kWide = 3;  // wide element of Code 39 and Interleaved 2 of 5, in modules

void code128_modules(const std::string& encoded, std::vector<int>& out) {
    bool started = false;
    for (char ch : encoded) {
        const unsigned char c = static_cast<unsigned char>(ch);
        const int value = Code128Value(c);
        if (!started) {
            if (value < 103 || value > 105) continue;  // nothing before the start character
            started = true;
        }
        if (value < 0 || value > 106) continue;
        for (const char* p = kCode128Patterns[value]; *p; ++p) out.push_back(*p - '0');
        if (value == 106) break;  // the stop ends the symbol (a trailing space follows)
    }
}

void code39_modules(const std::string& encoded, std::vector<int>& out) {
    for (char ch : encoded) {
        char c = ch == '!' ? '*' : ch == '=' ? ' ' : ch;
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        const char* at = std::strchr(kCode39Alphabet, c);
        if (c == '\0' || at == nullptr) continue;
        const int pattern = kCode39Patterns[at - kCode39Alphabet];
        if (!out.empty()) out.push_back(1);  // narrow gap between characters
        for (int bit = 8; bit >= 0; --bit) out.push_back((pattern >> bit) & 1 ? kWide : 1);
    }
}

void i2of5_modules(const std::string& encoded, std::vector<int>& out) {
    for (char ch : encoded) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c == static_cast<unsigned char>(kCode128StartA)) {
            out.insert(out.end(), {1, 1, 1, 1});
        } else if (c == static_cast<unsigned char>(kCode128StartB)) {
            out.insert(out.end(), {kWide, 1, 1});
        } else {
            int n = -1;
            if (c >= 33 && c <= 126) n = c - 33;
            if (c >= 197 && c <= 202) n = c - 103;
            if (n < 0) continue;
            const char* bars = kI2of5Digits[n / 10];
            const char* spaces = kI2of5Digits[n % 10];
            for (int k = 0; k < 5; ++k) {
                out.push_back(bars[k] == '1' ? kWide : 1);
                out.push_back(spaces[k] == '1' ? kWide : 1);
            }
        }
    }
}

}  // namespace

bool SymbologyForKind(const std::string& kind, BarSymbology& out) {
    if (kind == "code39") {
        out = BarSymbology::Code39;
    } else if (kind == "i2of5") {
        out = BarSymbology::I2of5;
    } else if (kind == "code128" || kind == "ean128" || kind == "code128a" ||
               kind == "code128b" || kind == "code128c") {
        out = BarSymbology::Code128;
    } else {
        return false;
    }
    return true;
}

std::vector<int> BarModules(BarSymbology symbology, const std::string& encoded) {
    std::vector<int> out;
    switch (symbology) {
        case BarSymbology::Code128: code128_modules(encoded, out); break;
        case BarSymbology::Code39: code39_modules(encoded, out); break;
        case BarSymbology::I2of5: i2of5_modules(encoded, out); break;
    }
    return out;
}

// A 12 point barcode gets 0.3 mm modules and 6 mm bars: about the module of the
// barcode fonts at that size, and tall enough for any scanner while covering
// little more than one row of a 6 lines-per-inch page.
double BarModuleWidth(double size_points) { return size_points * 0.025; }
double BarHeight(double size_points) { return size_points * 0.5; }

void DrawBars(PdfDocument& doc, BarSymbology symbology, const std::string& encoded, double x,
              double y, double size_points, double angle) {
    const std::vector<int> modules = BarModules(symbology, encoded);
    if (modules.empty() || size_points <= 0) return;
    const double module = BarModuleWidth(size_points);
    const double height = BarHeight(size_points);
    // Reading direction and "up" on the page (y grows downwards), per quarter turn.
    const long quarter = ((std::lround(angle / 90.0) % 4) + 4) % 4;
    static constexpr double kDir[4][2] = {{1, 0}, {0, -1}, {-1, 0}, {0, 1}};
    static constexpr double kUp[4][2] = {{0, -1}, {-1, 0}, {0, 1}, {1, 0}};
    const double* dir = kDir[quarter];
    const double* up = kUp[quarter];

    double u = kQuietZoneModules * module;
    bool bar = true;
    for (int width : modules) {
        const double u1 = u + width * module;
        if (bar) {
            const double xs[2] = {x + u * dir[0], x + u1 * dir[0]};
            const double ys[2] = {y + u * dir[1], y + u1 * dir[1]};
            const double left = std::min(xs[0], xs[1]) + std::min(0.0, height * up[0]);
            const double top = std::min(ys[0], ys[1]) + std::min(0.0, height * up[1]);
            const double w = std::abs(xs[1] - xs[0]) + std::abs(height * up[0]);
            const double h = std::abs(ys[1] - ys[0]) + std::abs(height * up[1]);
            doc.DrawRect(left, top, w, h, true, false, 0);
        }
        u = u1;
        bar = !bar;
    }
}

}  // namespace velarion
