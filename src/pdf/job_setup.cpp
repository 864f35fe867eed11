#include "pdf/job_setup.h"

#include <climits>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

#include "common/file_problem.h"
#include "common/runtime.h"
#include "layout/overlay_support.h"
#include "layout/pre_analysis.h"
#include "layout/style.h"
#include "pdf/type_metrics.h"
#include "platform/os/ini_file.h"
#include "platform/os/paths.h"
#include "platform/os/text_encoding.h"

namespace velarion {

namespace {
bool has(const std::string& s, char c) { return s.find(c) != std::string::npos; }
}  // namespace

bool refuses_print_type(const Runtime& rt, const StyleSettings& style, const PreAnalysis& pre,
                        const std::string& type) {
    const std::string& forced = style.forzatura;
    const bool condensed = pre.condensed;
    // Orientation against a forced orientation.
    if (has(type, 'o') && forced == "v") return true;
    if (has(type, 'v') && forced == "o") return true;
    // The large landscape types only for a condensed listing or when forced.
    if ((type == "14o" || type == "12o") && !condensed && forced != type) {
        rt.trace(" ESCO il tipo stampa " + type + " puo' esistere solo se forzato");
        return true;
    }
    // "10o" only when forced.
    if (type == "10o" && forced != "10o") {
        rt.trace(" ESCO il tipo stampa 10o puo' esistere solo se forzato");
        return true;
    }
    const std::string text = " ESCO: forzatura " + forced + " diversa dal tipo stampa attuale " + type;
    // A forced orientation refuses the types of the other one.
    if ((forced == "o" && !has(type, 'o')) || (forced == "v" && !has(type, 'v'))) {
        rt.list.add(text);
        return true;
    }
    // A forced type refuses every other type.
    if (forced != "v" && forced != "o" && !forced.empty() && forced != type) {
        rt.trace_line(text);
        return true;
    }
    return false;
}

MarkerSequences read_marker_sequences(const ini::IniContents& style_file) {
    MarkerSequences m;
    std::map<std::string, std::string> values;
    if (const ini::IniSection* section = style_file.section("SEQBARCODE"))
        for (const auto& e : section->entries) values.emplace(text::upper(e.key), e.value);
    auto get = [&](const std::string& key) {
        auto it = values.find(key);
        return it == values.end() ? std::string() : it->second;
    };
    // Each pair is read only when the one before it is set.
    m.start[1] = get("SEQ1INIZIO");
    if (m.start[1].empty()) return m;
    m.start_repl[1] = get("SEQ1INIZIOREPL");
    m.end[1] = get("SEQ1FINE");
    m.end_repl[1] = get("SEQ1FINEREPL");
    m.start[2] = get("SEQ2INIZIO");
    if (m.start[2].empty()) return m;
    m.end[2] = get("SEQ2FINE");
    m.start[3] = get("SEQ3INIZIO");
    if (m.start[3].empty()) return m;
    m.end[3] = get("SEQ3FINE");
    return m;
}

std::vector<FormatEntry> parse_format_table(const std::string& file_text, const std::string& path,
                                            std::vector<FileProblem>* problems) {
    std::vector<FormatEntry> table;
    std::istringstream in(file_text);
    std::string line;
    int number = 0;
    auto problem = [&](const std::string& text) {
        if (problems) problems->push_back({path, number, text});
    };
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (table.size() == 40) {
            if (line.find_first_not_of(" \t") != std::string::npos) problem("more than 40 rows (the rest is ignored)");
            break;
        }
        std::vector<std::string> f;
        std::istringstream fields(line);
        for (std::string x; std::getline(fields, x, '\t');) f.push_back(x);
        if (f.size() < 3) {
            if (line.find_first_not_of(" \t") != std::string::npos)
                problem("'" + line + "' has fewer than 3 TAB-separated fields (ignored)");
            continue;
        }
        // A row or column that is no whole number within int leaves the entry out.
        auto row = to_whole_number(f[0], INT_MIN, INT_MAX);
        auto col = to_whole_number(f[2], INT_MIN, INT_MAX);
        if (!row || !col) {
            problem("'" + (row ? f[2] : f[0]) + "' is not a whole number (row ignored)");
            continue;
        }
        FormatEntry e;
        e.row = *row;
        e.column = std::max(1, *col);
        const std::string& a = f[1];
        if (a == "N") e.control = "\x12";
        else if (a == "C") e.control = "\x0f";
        else if (a == "EC") e.control = "\x0e\x0f";
        else if (a == "P") {
            // The 18-character font record: colour (11), font number (2), size (5).
            std::string colour = f.size() > 3 ? f[3] : "";
            std::string font = f.size() > 4 ? f[4] : "";
            std::string size = f.size() > 5 ? f[5] : "";
            colour.resize(11, ' ');
            font.resize(2, ' ');
            size.resize(5, ' ');
            e.control = "\x10" + colour + font + size;
        } else {
            problem("'" + a + "' is not N, C, EC or P (row ignored)");
            continue;
        }
        table.push_back(std::move(e));
    }
    return table;
}

namespace {

// The formatting table's file, opened once through the confined open: its
// path (read only below the logo folder or a read folder) and descriptor.
struct FormatFile {
    std::string wanted, path;
    safe_path::Fd fd;
};

FormatFile open_format_file(const Runtime& rt, const std::string& file_name) {
    FormatFile f;
    f.wanted = rt.cfg.logo_dir + paths::native(file_name);
    overlay::FoundStyleFile found = overlay::FindAndOpenStyleFile(rt, f.wanted);
    f.path = std::move(found.path);
    f.fd = std::move(found.fd);
    return f;
}

// Its text, read from that descriptor; nullopt, with the activity line, when
// it cannot be read.
std::optional<std::string> read_format_file(const Runtime& rt, const std::string& file_name, const FormatFile& f,
                                            std::vector<FileProblem>* problems) {
    std::optional<std::string> text = safe_path::read_whole(f.fd);
    if (!text) {
        rt.list.add(" Crea Pdf tabella di formattazione non trovata " + file_name);
        if (problems) problems->push_back({f.wanted, 0, "formatting table not found"});
    }
    return text;
}

}  // namespace

std::vector<FormatEntry> load_format_table(const Runtime& rt, const std::string& file_name,
                                           std::vector<FileProblem>* problems) {
    const FormatFile f = open_format_file(rt, file_name);
    const auto text = read_format_file(rt, file_name, f, problems);
    return text ? parse_format_table(*text, f.path, problems) : std::vector<FormatEntry>{};
}

const std::vector<FormatEntry>& FormatTables::get(const Runtime& rt, const std::string& file_name,
                                                  std::vector<FileProblem>& problems) {
    // Kept while the file opened is the same version (an open and an fstat,
    // no read); the stamp is the opened file's, taken before the read, so a
    // change while it is read is seen and a swapped-in file is never taken
    // for the one kept.
    const FormatFile f = open_format_file(rt, file_name);
    const auto stamp = ini::stamp_of(f.fd);
    auto it = tables_.find(file_name);
    if (it != tables_.end() && stamp && *stamp == it->second.stamp) {
        problems.insert(problems.end(), it->second.problems.begin(), it->second.problems.end());
        return it->second.rows;
    }
    Table table;
    table.path = f.path;
    const auto text = read_format_file(rt, file_name, f, &problems);
    if (!text) {
        tables_.erase(file_name);
        return none_;
    }
    ++reads_;
    table.rows = parse_format_table(*text, table.path, &table.problems);
    problems.insert(problems.end(), table.problems.begin(), table.problems.end());
    table.stamp = stamp.value_or(ini::FileStamp{});  // no stamp: never equal to a later one
    return (tables_[file_name] = std::move(table)).rows;
}

}  // namespace velarion
