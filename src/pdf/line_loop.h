// The line loop of CreaPdf: rewrites, directives, page breaks and drawing.
#pragma once

#include <istream>
#include <stdexcept>

#include "pdf/job_state.h"

namespace velarion {

struct Runtime;
struct LayoutState;
struct StyleSettings;
class PdfDocument;

// Geometry and tables of the job from the print type and the current style.
void configure_job(const Runtime& rt, LayoutState& layout, JobState& job);

// Sets the page size for the job's type (or the style's "dimpagina..." keys).
void set_page_size(const StyleSettings& style, PdfDocument& doc, const JobState& job);

// The document reached "pagine_max" pages: the message's refusal is set,
// and no print type is tried after it.
class PageLimitReached : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads the print file to its end (or to a stop) and draws it into doc.
// Sets job.nonvabene when a line does not fit the print type; throws
// PageLimitReached at a page beyond "pagine_max".
void run_line_loop(Runtime& rt, LayoutState& layout, PdfDocument& doc, std::istream& in, JobState& job);

}  // namespace velarion
