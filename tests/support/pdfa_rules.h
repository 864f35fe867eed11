// The project's own PDF/A rule check (pdfa_check.py, on pikepdf and
// fontTools) and the one-page PDFs with things a PDF/A may not hold
// (pdfa_faulty_pages.py), run from the tests.
#pragma once

#include <string>

#include "support/test_support.h"

namespace velarion::testing {

struct PdfaVerdict {
    std::string claim;  // "2B", "3B", "none"
    std::string broken;  // the rules broken, one per line ("" when none)
    int status = -1;     // 0: no rule broken
};

// Checks pdf; with force, the rules are checked whether or not it claims to
// be a PDF/A (without, a file without the claim is only checked for claim
// remains such as a PDF/A output intent).
inline PdfaVerdict pdfa_rules(const std::string& pdf, bool force = false) {
    std::vector<std::string> argv = {"/usr/bin/python3", std::string(VELARION_SOURCE_DIR) + "/tests/support/pdfa_check.py", pdf};
    if (force) argv.push_back("--force");
    const ProcessResult r = run_program(argv);
    PdfaVerdict v;
    v.status = r.status;
    const auto eol = r.out.find('\n');
    const std::string first = r.out.substr(0, eol);
    v.claim = first.starts_with("claim: ") ? first.substr(7) : "error: " + r.err;
    v.broken = eol == std::string::npos ? "" : r.out.substr(eol + 1);
    if (r.status != 0 && v.broken.empty()) v.broken = r.err;
    return v;
}

// Writes a one-page PDF of the kind named (see pdfa_faulty_pages.py) to out.
inline bool faulty_page(const std::string& kind, const std::string& out) {
    return run_program({"/usr/bin/python3", std::string(VELARION_SOURCE_DIR) + "/tests/support/pdfa_faulty_pages.py",
                        kind, out})
               .status == 0;
}

}  // namespace velarion::testing
