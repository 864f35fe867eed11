#include "layout/overlay_support.h"

#include <strings.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <map>
#include <vector>

#include "layout/overlay.h"
#include "platform/paths.h"
#include "platform/text_encoding.h"
#include "startup/context.h"

namespace fs = std::filesystem;

namespace velarion::overlay {

void throw_type_mismatch() { throw OverlayError(13, "Type mismatch"); }
void throw_out_of_range() { throw OverlayError(9, "Subscript out of range"); }

namespace {

// Strict decimal number: blanks, sign, digits with one decimal point, exponent.
std::optional<double> parse_with_point(std::string s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string::npos) return std::nullopt;
    s = s.substr(first, s.find_last_not_of(" \t") - first + 1);
    if (!s.empty() && s[0] == '+') s.erase(0, 1);
    if (s.empty() || s[0] == '+') return std::nullopt;
    double value = 0;
    const char* end = s.data() + s.size();
    const auto [ptr, ec] = std::from_chars(s.data(), end, value, std::chars_format::general);
    if (ec != std::errc() || ptr != end || !std::isfinite(value)) return std::nullopt;
    return value;
}

}  // namespace

std::optional<double> TryPlainNumber(const std::string& text) {
    return parse_with_point(text);
}

std::optional<double> TryNumber(const Context& ctx, const std::string& text) {
    std::string s = NormalizeDecimal(ctx, text);
    if (ctx.host.decimal_separator == ",") {
        // The system notation: "," is the decimal separator, "." is not a number.
        if (s.find('.') != std::string::npos) return std::nullopt;
        std::replace(s.begin(), s.end(), ',', '.');
    } else if (s.find(',') != std::string::npos) {
        return std::nullopt;
    }
    return parse_with_point(s);
}

double ToNumber(const Context& ctx, const std::string& text) {
    const auto value = TryNumber(ctx, text);
    if (!value) throw_type_mismatch();
    return *value;
}

Colour ParseColour(const Context& ctx, const std::string& text) {
    const auto c1 = text.find(',');
    const auto c2 = c1 == std::string::npos ? std::string::npos : text.find(',', c1 + 1);
    if (c2 == std::string::npos) throw_out_of_range();
    auto part = [&](const std::string& s) {
        const auto v = TryPlainNumber(s);
        if (!v) throw_type_mismatch();
        return static_cast<int>(std::clamp(std::lround(*v), 0L, 255L));
    };
    return {part(text.substr(0, c1)), part(text.substr(c1 + 1, c2 - c1 - 1)),
            part(text.substr(c2 + 1))};
}

std::string LogoDir(const Context& ctx) {
    if (!ctx.op.Dir_Loghi.empty()) return paths::with_separator(paths::native(ctx.op.Dir_Loghi));
    return paths::with_separator(paths::native(ctx.op.Path)) + "loghi/";
}

std::string InLogoDir(const Context& ctx, const std::string& name) {
    if (paths::has_separator(name)) return paths::native(name);
    return LogoDir(ctx) + name;
}

namespace {

// The first file of that name (any case) below the system font folders.
std::string find_in_system_folders(const std::string& name) {
    std::vector<std::string> roots = {"/usr/share/fonts", "/usr/local/share/fonts"};
    if (const char* home = std::getenv("HOME")) {
        roots.push_back(std::string(home) + "/.local/share/fonts");
        roots.push_back(std::string(home) + "/.fonts");
    }
    for (const auto& root : roots) {
        std::error_code ec;
        fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied,
                                            ec);
        for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            if (strcasecmp(it->path().filename().c_str(), name.c_str()) == 0 &&
                it->is_regular_file(ec))
                return it->path().string();
        }
    }
    return "";
}

}  // namespace

std::string FindFontFile(const Context& ctx, const std::string& file_name) {
    if (file_name.empty()) return "";
    const std::string name = paths::file_name(paths::native(file_name));
    if (paths::has_separator(file_name)) {
        const std::string direct = paths::resolve(file_name);
        if (!direct.empty()) return direct;
    }
    const std::string program =
        ctx.host.program_dir.empty() ? paths::program_dir() : ctx.host.program_dir;
    const std::string in_program = paths::resolve(paths::with_separator(program) + name);
    std::error_code ec;
    if (!in_program.empty() && fs::is_regular_file(in_program, ec)) return in_program;

    // The system folders are walked once per name and run: a barcode font that
    // is not installed is asked for on every barcode of a long listing.
    static std::map<std::string, std::string> system_fonts;
    const std::string key = text::lower(name);
    if (auto it = system_fonts.find(key); it != system_fonts.end()) return it->second;
    std::string found = find_in_system_folders(name);
    system_fonts.emplace(key, found);
    return found;
}

}  // namespace velarion::overlay
