// --help and --version of the outside programs, as Linux users expect them:
// looked for before the program's own arguments are read, answered on
// standard output with exit status 0. The version number is the project's
// (VELARION_VERSION, set by the build from the project version).
#pragma once

#include <cstdio>
#include <string_view>

#ifndef VELARION_VERSION
#error "VELARION_VERSION must be defined by the build"
#endif

namespace velarion::tools {

// True when argv holds "--help" or "--version"; the answer has then been
// written. --help wins when both are given.
inline bool answer_standard_options(int argc, char** argv, const char* program, const char* help) {
    bool want_help = false, want_version = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        want_help = want_help || arg == "--help";
        want_version = want_version || arg == "--version";
    }
    if (want_help) {
        std::fputs(help, stdout);
    } else if (want_version) {
        std::printf("%s (Velarion) %s\n", program, VELARION_VERSION);
    }
    return want_help || want_version;
}

}  // namespace velarion::tools
