#include "layout/overlay_support.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string_view>

#include "common/runtime.h"
#include "layout/overlay.h"
#include "platform/pdf/font_files.h"
#include "platform/os/paths.h"
#include "platform/os/safe_path.h"

namespace velarion::overlay {

void throw_type_mismatch() { throw NumberedError(13, "Type mismatch"); }
void throw_out_of_range() { throw NumberedError(9, "Subscript out of range"); }

namespace {

// Strict decimal number: blanks, sign, digits with one decimal point, exponent.
std::optional<double> parse_with_point(std::string_view s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos) return std::nullopt;
    s = s.substr(first, s.find_last_not_of(" \t") - first + 1);
    if (!s.empty() && s[0] == '+') s.remove_prefix(1);
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

// Overlays give several numbers a line on every page: read in place, with
// no copy of the text but where "," is the decimal separator.
std::optional<double> TryNumber(const Runtime& rt, const std::string& text) {
    if (rt.cfg.host.decimal_separator == ",") {
        // The system notation: "," is the decimal separator; "." is taken as
        // one too (NormalizeDecimal turns it into ",").
        if (text.find_first_of(".,") == std::string::npos) return parse_with_point(text);
        std::string s = text;
        std::replace(s.begin(), s.end(), ',', '.');
        return parse_with_point(s);
    }
    if (text.find(',') != std::string::npos) return std::nullopt;
    return parse_with_point(text);
}

double ToNumber(const Runtime& rt, const std::string& text) {
    const auto value = TryNumber(rt, text);
    if (!value) throw_type_mismatch();
    return *value;
}

Colour ParseColour(const Runtime& /*rt*/, const std::string& text) {
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

std::string InLogoDir(const Runtime& rt, const std::string& name) {
    if (paths::has_separator(name)) return paths::native(name);
    return rt.cfg.logo_dir + name;
}

std::vector<std::string> StyleRoots(const Runtime& rt) {
    std::vector<std::string> roots = rt.cfg.read_roots;
    roots.push_back(rt.cfg.logo_dir);
    return roots;
}

namespace {
// Where a font named with a folder may lie.
std::vector<std::string> font_roots(const Runtime& rt) {
    std::vector<std::string> roots = StyleRoots(rt);
    roots.push_back(rt.cfg.host.program_dir);
    for (const auto& f : font_files::system_folders()) roots.push_back(f);
    return roots;
}
}  // namespace

std::string StyleFilePath(const Runtime& rt, const std::string& path) {
    const std::string found = paths::resolve(path);
    if (found.empty()) return path;
    if (safe_path::readable_below(found, StyleRoots(rt))) return found;
    rt.list.add(" File di stile fuori dalle cartelle ammesse " + path);
    return "";
}

FoundStyleFile FindAndOpenStyleFile(const Runtime& rt, const std::string& path) {
    FoundStyleFile out;
    const std::string found = paths::resolve(path);
    if (found.empty()) {
        out.path = path;
        return out;
    }
    const std::vector<std::string> roots = StyleRoots(rt);
    safe_path::Opened opened = safe_path::open_below(found, roots);
    out.path = found;
    out.fd = std::move(opened.fd);
    // Refused by the open: the line only where StyleFilePath would say it
    // (outside the folders, a hard link), not for a FIFO or a folder there.
    if (opened.status == safe_path::Status::refused && !safe_path::readable_below(found, roots)) {
        rt.list.add(" File di stile fuori dalle cartelle ammesse " + path);
        out.path.clear();
    }
    return out;
}

std::string StyleFontPath(const Runtime& rt, const std::string& name) {
    const std::string found = rt.fonts.find(name, rt.cfg.host.program_dir);
    if (found.empty() || !paths::has_separator(name)) return found;
    if (safe_path::readable_below(found, font_roots(rt))) return found;
    rt.list.add(" File di stile fuori dalle cartelle ammesse " + name);
    return "";
}

safe_path::Fd OpenStyleFile(const Runtime& rt, const std::string& path) {
    if (path.empty()) return {};
    return std::move(safe_path::open_below(path, StyleRoots(rt)).fd);
}

safe_path::Fd OpenStyleFont(const Runtime& rt, const std::string& name, const std::string& path) {
    if (path.empty()) return {};
    // A font found by the look-up (program folder, fontconfig, system
    // folders) is the system's: only its own folder, as the look-up found it.
    const std::vector<std::string> roots =
        paths::has_separator(name) ? font_roots(rt)
                                   : std::vector<std::string>{paths::folder(safe_path::real_location(path))};
    return std::move(safe_path::open_below(path, roots).fd);
}

}  // namespace velarion::overlay
