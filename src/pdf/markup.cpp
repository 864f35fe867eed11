#include "pdf/markup.h"

#include <array>
#include <string_view>


namespace velarion {

void replace_all(std::string& s, const std::string& from, const std::string& to) {
    if (from.empty()) return;
    std::size_t pos = s.find(from);
    if (pos == std::string::npos) return;
    std::string out;
    out.reserve(s.size());
    std::size_t start = 0;
    for (; pos != std::string::npos; pos = s.find(from, start)) {
        out.append(s, start, pos - start);
        out += to;
        start = pos + from.size();
    }
    out.append(s, start, std::string::npos);
    s = std::move(out);
}

void expand_tags(std::string& line) {
    if (line.find('<') == std::string::npos) return;
    replace_all(line, "<E>", "\x0e");
    replace_all(line, "</E>", "\x12");
}

void apply_substitutions(std::string& line, const std::vector<Substitution>& table) {
    for (const auto& s : table) replace_all(line, s.search, s.replacement);
}

void long_dashes(std::string& line) {
    if (line.find('-') == std::string::npos || line.find("--") == std::string::npos) return;
    // In place: only the byte at i changes, so the one before it is
    // remembered as it was and the one after it is not yet changed.
    const std::size_t n = line.size();
    bool dash_before = false;
    for (std::size_t i = 0; i < n; ++i) {
        const bool dash = line[i] == '-';
        if (dash) {
            const bool next = i + 1 < n && (line[i + 1] == '-' || line[i + 1] == '|');
            if (next || dash_before) line[i] = '\x97';
        }
        dash_before = dash;
    }
}

void euro_sign(std::string& line) {
    if (line.find('\'') != std::string::npos && line.find(" 'e ") != std::string::npos)
        replace_all(line, " 'e ", " \x80 ");
}

void apply_markers(std::string& line, const MarkerSequences& m) {
    for (int n = 1; n <= 3; ++n) {
        if (!m.start[n].empty() && line.find(m.start[n]) != std::string::npos)
            replace_all(line, m.start[n], m.start_repl[n]);
        if (!m.end[n].empty() && line.find(m.end[n]) != std::string::npos) {
            const std::string& r = m.end_repl[n];
            replace_all(line, m.end[n], r == "NORMALE" ? "\x12" : r == "COMPRESSO" ? "\x0f" : r);
        }
    }
}

namespace {
// True when line holds text at `at`, ASCII letters compared without case.
bool matches_at(const std::string& line, std::size_t at, std::string_view text) {
    if (line.size() < at + text.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = line[at + i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != text[i]) return false;
    }
    return true;
}
}  // namespace

void rewrite_logo_directive(std::string& line) {
    if (matches_at(line, 0, "///l")) {
        line = "%logo:" + line.substr(4) + "%";
    } else if (!line.empty() && line[0] == '\x0c' && matches_at(line, 1, "///l")) {
        line = "\x0c%logo:" + line.substr(5) + "%";
    }
}

std::optional<std::string> logo_directive(const std::string& line) {
    for (std::size_t p = line.find('%'); p != std::string::npos; p = line.find('%', p + 1)) {
        if (!matches_at(line, p + 1, "logo:")) continue;
        const std::size_t from = p + 6;
        const std::size_t end = line.find('%', from);
        return line.substr(from, end == std::string::npos ? std::string::npos : end - from);
    }
    return std::nullopt;
}

void apply_format_table(std::string& line, const std::vector<FormatEntry>& table, int row) {
    std::size_t inserted = 0;
    for (const auto& e : table) {
        if (e.row != row) continue;
        const std::size_t at = std::min(line.size(), static_cast<std::size_t>(e.column - 1) + inserted);
        line.insert(at, e.control);
        inserted += e.control.size();
    }
}

namespace {
// The characters that split a line: the style controls and "~" of the barcode markers.
// A table, since every character of every line is tested.
constexpr std::array<bool, 256> kSplits = [] {
    std::array<bool, 256> t{};
    for (unsigned char c : {'~', '\x0e', '\x0f', '\x10', '\x12', '\x13', '\x14'}) t[c] = true;
    return t;
}();
bool splits(char c) { return kSplits[static_cast<unsigned char>(c)]; }
// Where the piece that starts at from ends: at the next character that splits
// a line into pieces, or at the end of the line.
std::size_t piece_end(const std::string& line, std::size_t from) {
    std::size_t j = std::min(from, line.size());
    while (j < line.size() && !splits(line[j])) ++j;
    return j;
}
}  // namespace

std::vector<Piece> split_pieces(const std::string& line, std::string& stop_label) {
    std::vector<Piece> pieces;
    split_pieces(line, stop_label, pieces);
    return pieces;
}

void split_pieces(const std::string& line, std::string& stop_label, std::vector<Piece>& pieces) {
    // Most lines of a listing hold none of them: one normal piece, made in
    // the first piece of the last line, whose buffers are kept.
    bool plain = true;
    for (char c : line)
        if (splits(c)) {
            plain = false;
            break;
        }
    if (plain) {
        pieces.resize(1);
        Piece& p = pieces.front();
        p.text.assign(line);
        p.style.assign("n");
        p.record.clear();
        p.section.clear();
        p.last = true;
        return;
    }
    pieces.clear();
    Piece cur;
    auto flush = [&] {
        if (!cur.text.empty() || cur.style == "p") {
            const std::string style = cur.style;
            pieces.push_back(std::move(cur));
            cur = Piece{};
            cur.style = style;
        }
        cur.text.clear();
        cur.record.clear();
    };
    auto switch_to = [&](const std::string& style) {
        flush();
        cur.style = style;
    };
    const std::size_t n = line.size();
    char prev = 0;
    for (std::size_t i = 0; i < n;) {
        const char c = line[i];
        switch (c) {
            case '\x0f':  // condensed; with Chr(14) just before it, expanded condensed
                switch_to(prev == '\x0e' ? "ec" : "c");
                break;
            case '\x0e':  // expanded; expanded condensed after condensed
                switch_to(cur.style == "c" ? "ec" : "e");
                break;
            case '\x13':
                switch_to("s");
                break;
            case '\x12':
            case '\x14':
                switch_to("n");
                break;
            case '\x10':  // an 18-character font record, then the text of one "p" piece
                switch_to("p");
                cur.record = line.substr(i + 1, 18);
                prev = c;
                i = std::min(n, i + 19);
                continue;
            default:
                break;
        }
        if (c == '\x0e' || c == '\x0f' || c == '\x12' || c == '\x13' || c == '\x14') {
            prev = c;
            ++i;
            continue;
        }
        if (c == '~' && line.compare(i, 7, "~%FINE-") == 0) {
            // A stop marker without barcode data: only the label is taken.
            const std::size_t end = piece_end(line, i + 7);
            stop_label = line.substr(i + 7, std::min<std::size_t>(3, end - i - 7));
            prev = c;
            i = end;
            continue;
        }
        if (c == '~' && i + 1 < n && line[i + 1] == '%') {
            // A barcode piece: data up to "~%FINE-", then the name of its section
            // to the end of the piece; its first three characters are also the
            // overlay stop label.
            flush();
            Piece bc;
            bc.style = "bc";
            const std::size_t fine = line.find("~%FINE-", i + 2);
            if (fine == std::string::npos) {
                bc.text = line.substr(i + 2);
                i = n;
            } else {
                bc.text = line.substr(i + 2, fine - i - 2);
                const std::size_t end = piece_end(line, fine + 7);
                bc.section = line.substr(fine + 7, end - fine - 7);
                stop_label = bc.section.substr(0, 3);
                i = end;
            }
            pieces.push_back(std::move(bc));
            prev = c;
            continue;
        }
        // A run of ordinary characters up to the next one that matters here.
        std::size_t j = i + 1;
        while (j < n && !splits(line[j])) ++j;
        cur.text.append(line, i, j - i);
        prev = line[j - 1];
        i = j;
    }
    flush();
    if (pieces.empty()) pieces.push_back(std::move(cur));
    pieces.back().last = true;
}

bool only_control_characters(const std::string& line) {
    for (unsigned char c : line)
        if (c >= 32) return false;
    return true;
}

}  // namespace velarion
