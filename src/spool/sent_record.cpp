#include "spool/sent_record.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "platform/os/atomic_file.h"
#include "platform/os/clock.h"
#include "spool/kept_append.h"

namespace fs = std::filesystem;

namespace velarion::spool {

namespace {

// A line longer than this is no line of ours: it is skipped.
constexpr std::size_t kLineLimit = 64 * 1024;

// The value with backslash, tab and line ends escaped, appended to `out`.
void append_escaped(std::string& out, const std::string& s) {
    for (char c : s) {
        if (c == '\\') out += "\\\\";
        else if (c == '\t') out += "\\t";
        else if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else out += c;
    }
}

std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> out(1);
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '\t') {
            out.emplace_back();
        } else if (c == '\\' && i + 1 < line.size()) {
            const char n = line[++i];
            out.back() += n == 't' ? '\t' : n == 'n' ? '\n' : n == 'r' ? '\r' : n;
        } else {
            out.back() += c;
        }
    }
    return out;
}

std::string joined(const std::vector<std::string>& v) {
    std::string out;
    for (const auto& s : v) out += (out.empty() ? "" : ";") + s;
    return out;
}

std::vector<std::string> split(const std::string& s) {
    std::vector<std::string> out;
    for (std::size_t start = 0; start < s.size();) {
        const std::size_t end = std::min(s.find(';', start), s.size());
        if (end > start) out.push_back(s.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

long long number(const std::string& s) {
    long long n = 0;
    std::from_chars(s.data(), s.data() + s.size(), n);
    return n;
}

std::string line_of(const std::vector<std::string>& values) {
    std::size_t size = values.size();
    for (const auto& v : values) size += v.size();
    std::string line;
    line.reserve(size + 16);
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i > 0) line += '\t';
        append_escaped(line, values[i]);
    }
    return line;
}

// Who was written to, about what, is the business's own: the agent's user
// alone reads the record's folder. Its mode is put right whenever one of
// its files is opened (once a day, and when the folder was made anew).
void keep_private(const std::string& dir) {
    std::error_code ec;
    fs::permissions(dir, fs::perms::owner_all, fs::perm_options::replace, ec);
}

// Appends `text` to the file `name` of the folder `dir` (below the record's
// folder, made when missing) in one write with O_APPEND: agents sharing the
// folder never mix their lines. The file stays open for the next line.
bool append_to(const std::string& work, const std::string& dir, const std::string& name, const std::string& text) {
    bool opened = false;
    const bool written = append_kept(dir, name, text, &opened);
    if (opened) keep_private(tracking_dir(work));
    return written;
}

bool append(const std::string& work, const std::string& name, const std::vector<std::string>& values) {
    return append_to(work, tracking_dir(work), name, line_of(values) + "\n");
}

constexpr const char* kBodies = "corpi.txt";
constexpr const char* kBody = "corpo.txt";
// The last field of a whole line of the file of bodies.
constexpr const char* kWhole = "fine";

// Files of one kind ("inviati_", "esiti_") from `since` on, by day.
std::vector<std::string> day_files(const std::string& work, const std::string& kind, int since) {
    std::vector<std::pair<int, std::string>> found;
    std::error_code ec;
    for (fs::directory_iterator it(tracking_dir(work), ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.rfind(kind, 0) != 0 || !name.ends_with(".txt")) continue;
        const int day = static_cast<int>(number(name.substr(kind.size(), 8)));
        if (day >= since) found.emplace_back(day, it->path().string());
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> out;
    for (auto& f : found) out.push_back(std::move(f.second));
    return out;
}

template <class Each>
void read_lines(const std::string& path, Each each) {
    std::ifstream in(path, std::ios::binary);
    for (std::string line; std::getline(in, line);)
        if (line.size() <= kLineLimit) each(fields(line));
}

}  // namespace

std::string tracking_dir(const std::string& work) {
    std::string w = work;
    if (!w.empty() && w.back() != '/') w += '/';
    return w + "tracciamento/";
}

bool record_sent(const std::string& work, int day, const SentMessage& m) {
    return append(work, "inviati_" + std::to_string(day) + ".txt",
                  {"inviato", std::to_string(m.time), m.base, m.message_id, m.envelope_id, joined(m.recipients),
                   m.subject, m.reply, joined(m.documents), m.replaces, m.sender, m.reference});
}

bool record_outcome(const std::string& work, int day, const ReportedOutcome& o) {
    return append(work, "esiti_" + std::to_string(day) + ".txt",
                  {"esito", std::to_string(o.time), o.message_id, o.recipient, o.action, o.status, o.diagnostic,
                   o.reporter, o.date});
}

std::vector<SentMessage> read_sent(const std::string& work, int since) {
    std::vector<SentMessage> out;
    for (const auto& f : day_files(work, "inviati_", since))
        read_lines(f, [&](const std::vector<std::string>& v) {
            if (v.size() < 9 || v[0] != "inviato") return;
            SentMessage m;
            m.time = number(v[1]);
            m.base = v[2];
            m.message_id = v[3];
            m.envelope_id = v[4];
            m.recipients = split(v[5]);
            m.subject = v[6];
            m.reply = v[7];
            m.documents = split(v[8]);
            if (v.size() > 9) m.replaces = v[9];
            if (v.size() > 11) m.sender = v[10], m.reference = v[11];
            out.push_back(std::move(m));
        });
    return out;
}

std::vector<ReportedOutcome> read_outcomes(const std::string& work, int since) {
    std::vector<ReportedOutcome> out;
    for (const auto& f : day_files(work, "esiti_", since))
        read_lines(f, [&](const std::vector<std::string>& v) {
            if (v.size() < 9 || v[0] != "esito") return;
            out.push_back({number(v[1]), v[2], v[3], v[4], v[5], v[6], v[7], v[8]});
        });
    return out;
}

int days_before(int yyyymmdd, int days) {
    const long long s =
        to_seconds(make_datetime(yyyymmdd / 10000, yyyymmdd / 100 % 100, yyyymmdd % 100, 12)) - 86400LL * days;
    const DateTime t = from_seconds(s);
    return t.year * 10000 + t.month * 100 + t.day;
}

std::string documents_dir(const std::string& work, int yyyymmdd, const std::string& envelope_id) {
    return tracking_dir(work) + "documenti/" + std::to_string(yyyymmdd) + "/" + envelope_id + "/";
}

std::string document_path(const std::string& work, int yyyymmdd, const std::string& envelope_id,
                          const std::string& document) {
    // "+" is in no envelope id (message_identity.h): the name says whose it is.
    return tracking_dir(work) + "documenti/" + std::to_string(yyyymmdd) + "/" + envelope_id + "+" + document;
}

std::string kept_document(const std::string& work, int yyyymmdd, const std::string& envelope_id,
                          const std::string& document) {
    std::error_code ec;
    for (const std::string& p : {document_path(work, yyyymmdd, envelope_id, document),
                                 documents_dir(work, yyyymmdd, envelope_id) + document})
        if (fs::is_regular_file(fs::symlink_status(p, ec))) return p;
    return "";
}

bool record_body(const std::string& work, int yyyymmdd, const std::string& envelope_id, const std::string& body) {
    const std::string day = tracking_dir(work) + "documenti/" + std::to_string(yyyymmdd) + "/";
    // Each line begins with a line end: a line a kill cut short is ended by
    // the next one, and lacks its last field, so it is never read.
    const std::string line = "\n" + line_of({"corpo", envelope_id, body, kWhole}) + "\n";
    if (line.size() < kLineLimit) return append_to(work, day, kBodies, line);
    const std::string dir = documents_dir(work, yyyymmdd, envelope_id);
    std::error_code ec;
    fs::create_directories(dir, ec);
    return !ec && atomic_file::write(dir + kBody, body, atomic_file::Sync::work_file);
}

std::string kept_body(const std::string& work, int yyyymmdd, const std::string& envelope_id) {
    std::string body;
    bool found = false;
    read_lines(tracking_dir(work) + "documenti/" + std::to_string(yyyymmdd) + "/" + kBodies,
               [&](const std::vector<std::string>& v) {
                   if (v.size() == 4 && v[0] == "corpo" && v[1] == envelope_id && v[3] == kWhole) {
                       body = v[2];
                       found = true;
                   }
               });
    if (found) return body;
    std::ifstream in(documents_dir(work, yyyymmdd, envelope_id) + kBody, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string replaced_by_resend(const std::string& work, const std::string& base) {
    // --resend names a message "<base>R<n>": any other name is none of its, and
    // its notes are not read for it.
    const std::size_t digits = base.find_last_not_of("0123456789");
    if (digits == std::string::npos || digits + 1 == base.size() || base[digits] != 'R') return "";
    std::string found;
    read_lines(tracking_dir(work) + "rinvii.txt", [&](const std::vector<std::string>& v) {
        if (v.size() >= 2 && v[0] == base) found = v[1];
    });
    return found;
}

bool note_resend(const std::string& work, const std::string& base, const std::string& replaces) {
    return append(work, "rinvii.txt", {base, replaces});
}

void prune_tracking(const std::string& work, int today, int days) {
    const int first = days_before(today, days - 1);
    std::error_code ec;
    for (fs::directory_iterator it(tracking_dir(work) + "documenti", ec), end; !ec && it != end; it.increment(ec)) {
        const int day = static_cast<int>(number(it->path().filename().string()));
        std::error_code rm;
        if (day > 0 && day < first) fs::remove_all(it->path(), rm);
    }
    for (fs::directory_iterator it(tracking_dir(work), ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        for (const std::string kind : {"inviati_", "esiti_"}) {
            if (name.rfind(kind, 0) != 0 || !name.ends_with(".txt")) continue;
            const int day = static_cast<int>(number(name.substr(kind.size(), 8)));
            std::error_code rm;
            if (day > 0 && day < first) fs::remove(it->path(), rm);
        }
    }
}

}  // namespace velarion::spool
