// The state of one CreaPdf call: the print type with its geometry, the tables
// read at set-up and the counters of the line loop.
#pragma once

#include <string>
#include <vector>

#include "common/file_problem.h"
#include "layout/pre_analysis.h"
#include "pdf/job_setup.h"
#include "pdf/markup.h"
#include "pdf/type_metrics.h"

namespace velarion {

struct JobState {
    std::string input_path;
    std::string print_type;
    PreAnalysis pre;  // of the print file
    TypeMetrics metrics;
    TextOrigin origin;
    int lines_per_page = 213;
    MarkerSequences markers;
    std::vector<FormatEntry> format_table;
    std::vector<Substitution> substitutions;
    std::vector<int> dropped_rows;  // "scartariga1" to "scartariga6"
    std::vector<FileProblem> problems;  // of the formatting table

    bool nonvabene = false;    // refused, empty or a line did not fit
    bool text_written = false;
    bool stop = false;         // "maxpaginalogo" reached or a form without data
    int page_count = 0;        // pages made so far
    int row = 0;               // 1-based row of the current line on its page
    bool fresh_page = false;   // a page was just started and holds no row yet
    long line_no = 0;

    // Label mode: index of the current label and its offset on the page.
    long label_index = 0;
    double label_dx = 0, label_dy = 0;

    // What was last set on the drawing object, to skip repeated settings.
    std::string font;
    double size = -1;
    int colour[3] = {-1, -1, -1};
};

}  // namespace velarion
