// The command line: the input's NUL-separated pieces are the arguments; the
// front-end options are taken out, the ten slots filled and the switches of
// Sub Main and of the load step applied.
#include <vector>

#include "fuzz_support.h"
#include "startup/command_line.h"

using namespace velarion;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> args{"velarion"};
    const std::string text(reinterpret_cast<const char*>(data), size);
    for (std::size_t start = 0; start <= text.size() && args.size() < 64;) {
        std::size_t end = text.find('\0', start);
        if (end == std::string::npos) end = text.size();
        args.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    std::vector<const char*> argv;
    for (const auto& a : args) argv.push_back(a.c_str());
    const FrontEndOptions options = take_front_end_options(static_cast<int>(argv.size()), argv.data());
    const std::vector<std::string> slots = getcommandline(options.command_line, 10);
    Switches sw;
    apply_main_switches(sw, slots);
    apply_load_switches(sw, slots, "/opt/velarion/");
    return 0;
}
