#include "layout/pre_analysis.h"

#include <istream>
#include <vector>

#include "common/bounded_line.h"
#include "common/runtime.h"
#include "platform/os/safe_path.h"
#include "platform/os/text_encoding.h"

namespace velarion {

namespace {
constexpr char kFormFeed = 12;
constexpr char kCondensedOn = 15;
constexpr char kCondensedOff1 = 18;
constexpr char kCondensedOff2 = 20;
}  // namespace

PreAnalysis AnalizzaTXT(Runtime& rt, const std::string& path, long page_section_end) {
    // Start values; the page-section end comes from the caller.
    PreAnalysis pre;
    pre.page_section_end = page_section_end;
    rt.list.add(" Inizio AnalizzaTXT " + path);
    rt.list.refresh();

    // One pass over the lines.
    // Opened without following a link or waiting on a FIFO put in its place.
    const safe_path::Fd fd = safe_path::open_nofollow(path);
    if (!fd.valid()) return pre;
    safe_path::FdReader reader(fd);
    std::istream in(&reader);

    bool has_logo = false, has_form_feed = false;
    long last_condensed_off = 0;
    long n = 0;
    std::string line;
    while (read_bounded_line(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        ++n;
        pre.line_before_last = std::move(pre.last_line);
        if (line.find("%LOGO:") != std::string::npos) has_logo = true;
        if (line.rfind("///X", 0) == 0 && pre.invoice_xml.empty()) pre.invoice_xml = text::trim(line.substr(4));
        if (line.find("/PAGE") != std::string::npos) pre.page_section_end = n;
        if (n == 1 && !line.empty() && line.front() == kCondensedOn) pre.condensed = true;
        if (line.find(kCondensedOff1) != std::string::npos ||
            line.find(kCondensedOff2) != std::string::npos) {
            last_condensed_off = n;
        }
        if (line.find(kFormFeed) != std::string::npos) has_form_feed = true;
        if (n > pre.page_section_end && !line.empty()) pre.page_section_end = n;
        pre.last_line = line;
    }

    pre.line_count = n;
    // Continuous listings of whole 66-line pages keep that length.
    if (!has_form_feed && n % 66 == 0 && n % 72 != 0 && !has_logo) pre.page_length = 66;
    // Condensed only when the condensing ends on the last line.
    if (last_condensed_off == 0 || last_condensed_off != n) pre.condensed = false;
    rt.list.add(" Fine  AnalizzaTXT " + path + " ultima riga  " + std::to_string(n));
    rt.list.refresh();
    return pre;
}

}  // namespace velarion
