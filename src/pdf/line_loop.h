// The line loop of CreaPdf: rewrites, directives, page breaks and drawing.
#pragma once

#include <istream>

#include "pdf/job_state.h"

namespace velarion {

struct Context;
class PdfDocument;

// Geometry and tables of the job from the print type and the current style.
void configure_job(Context& ctx, JobState& job);

// Sets the page size for the job's type (or the style's "dimpagina..." keys).
void set_page_size(Context& ctx, PdfDocument& doc, const JobState& job);

// Reads the print file to its end (or to a stop) and draws it into doc.
// Sets job.nonvabene when a line does not fit the print type.
void run_line_loop(Context& ctx, PdfDocument& doc, std::istream& in, JobState& job);

}  // namespace velarion
