// The reference drawing object on libharu, which the program drew with before
// the streaming writer: the tests and benchmarks compare the writer's output
// with it. Only tests and benchmarks link it.
#pragma once

#include <memory>

#include "platform/pdf/pdf_document.h"

namespace velarion {

// A new drawing object on libharu.
std::unique_ptr<PdfDocument> make_hpdf_document();

}  // namespace velarion
