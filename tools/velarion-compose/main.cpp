// velarion-compose: one print file composed with an installation's page
// styles exactly as the agent composes an attachment (the pre-analysis, then
// CreaPdf with the print types from the largest to the smallest), without a
// spool, a mail store or a running agent; the pages optionally rendered to
// PNG pictures for people who design styles, overlays and barcodes.
//
//   velarion-compose FILE.txt [--style NAME] [--type CODE] [-o OUT.pdf]
//                    [--png DIR] [--dpi N] [ini:DIR ope:OP]
//
// Exit status: 0 the PDF was made, 1 no PDF could be made, 2 bad arguments.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "common/null_view.h"
#include "common/standard_options.h"
#include "page_pictures.h"
#include "pdf/crea_pdf.h"
#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/text_encoding.h"
#include "spool/print_file.h"
#include "startup/agent.h"
#include "startup/command_line.h"
#include "startup/component_check.h"
#include "startup/sub_main.h"
#include "startup/user_params.h"
#include "work_folder.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kHelp =
    "Usage: velarion-compose FILE.txt [--style NAME] [--type CODE] [-o OUT.pdf] [--png DIR] [--dpi N]\n"
    "                        [ini:DIR ope:OP]\n"
    "Composes one print file into a PDF exactly as the agent composes an attachment:\n"
    "the same composition, the print types from the largest to the smallest into\n"
    "which every line fits. Prints the activity lines and the chosen print type.\n"
    "\n"
    "  --style NAME     the page style (section of loghi.ini), as a message header names it\n"
    "  --type CODE      only this print type (12v, 10o-, ...)\n"
    "  -o OUT.pdf       where the PDF goes (default: FILE.pdf beside FILE.txt)\n"
    "  --png DIR        render every page to DIR/OUT-<page>.png\n"
    "  --dpi N          resolution of the pictures (default 100)\n"
    "  ini:DIR ope:OP   the installation (folder of velarion.ini) and operator whose\n"
    "                   logo folder and merge folder apply; without them both are\n"
    "                   the print file's folder\n"
    "  --help           show this help and exit\n"
    "  --version        show the version and exit\n"
    "\n"
    "Copies asked for by the style or the print file (dircopy, CREAFILE:) are made,\n"
    "and protection runs encryptpdf, as in the agent. No spool, mail store or\n"
    "running agent is needed.\n"
    "\n"
    "Exit status: 0 the PDF was made, 1 no PDF could be made, 2 bad arguments.\n";

struct Options {
    std::string file, style, type, output, png_dir;
    int dpi = 100;
    std::vector<std::string> keywords;  // the agent's keyword arguments (ini:, ope:, ...)
};

int usage_error(const std::string& message) {
    std::fprintf(stderr, "velarion-compose: %s\nTry 'velarion-compose --help' for more information.\n",
                 message.c_str());
    return 2;
}

bool is_keyword_argument(std::string_view arg) {
    for (const char* kw : {"ope:", "ini:", "plus:", "cdo:", "deb:", "so:", "run:", "fax:", "acc:", "int:"})
        if (arg.starts_with(kw)) return true;
    return false;
}

bool is_print_type(const std::string& type) {
    if (type == "9o") return true;  // only by a style's "forzatura", but a designer may try it
    for (const char* t : velarion::kPrintTypes)
        if (type == t) return true;
    return false;
}

// Reads the options; an empty text on success, else what is wrong.
std::string parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto value = [&](std::string& target) -> bool {
            if (i + 1 >= argc) return false;
            target = argv[++i];
            return true;
        };
        if (arg == "--style") {
            if (!value(o.style)) return "--style needs a page style";
        } else if (arg == "--type") {
            if (!value(o.type)) return "--type needs a print type";
            if (!is_print_type(o.type)) return "unknown print type " + o.type;
        } else if (arg == "-o") {
            if (!value(o.output)) return "-o needs the output file";
        } else if (arg == "--png") {
            if (!value(o.png_dir)) return "--png needs a folder";
        } else if (arg == "--dpi") {
            std::string dpi;
            if (!value(dpi)) return "--dpi needs a resolution";
            char* end = nullptr;
            const long n = std::strtol(dpi.c_str(), &end, 10);
            if (dpi.empty() || *end != '\0' || n < 10 || n > 1200) return "--dpi must be 10 to 1200, not " + dpi;
            o.dpi = static_cast<int>(n);
        } else if (is_keyword_argument(arg)) {
            o.keywords.emplace_back(arg);
        } else if (arg.starts_with("-") && arg.size() > 1) {
            return "unknown option " + std::string(arg);
        } else if (o.file.empty()) {
            o.file = arg;
        } else {
            return "one print file only: " + std::string(arg);
        }
    }
    if (o.file.empty()) return "no print file";
    return "";
}

// Message boxes (debug traces) go to standard error; nothing waits for input.
class ComposeView final : public velarion::NullView {
public:
    void show_message_box(const std::string& text) override {
        std::fprintf(stderr, "velarion-compose: %s\n", velarion::text::cp1252_to_utf8(text).c_str());
    }
};

void print_line(const std::string& line) {
    const std::string out = velarion::text::cp1252_to_utf8(line) + "\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace velarion;
    if (tools::answer_standard_options(argc, argv, "velarion-compose", kHelp)) return 0;
    Options o;
    if (const std::string error = parse(argc, argv, o); !error.empty()) return usage_error(error);

    std::error_code ec;
    const fs::path input = fs::absolute(o.file, ec);
    if (!fs::is_regular_file(input, ec)) {
        std::fprintf(stderr, "velarion-compose: cannot read %s\n", o.file.c_str());
        return 1;
    }
    const fs::path output = o.output.empty() ? fs::path(input).replace_extension(".pdf") : fs::absolute(o.output, ec);

    try {
        SystemClock clock;
        ComposeView view;
        Agent agent(clock, view);
        Settings& cfg = agent.settings;

        // The host facts the process entry finds.
        cfg.host.decimal_separator = decimal_separator_test();
        cfg.host.program_dir = paths::program_dir();
        cfg.host.condensed_font = condensed_font_present(cfg.host.system_root, cfg.host.program_dir);

        // The installation's settings, or the print file's folder for styles and merges.
        std::string line;
        for (const auto& k : o.keywords) line += (line.empty() ? "" : " ") + k;
        apply_load_switches(cfg.sw, getcommandline(line, 10), cfg.host.program_dir);
        if (cfg.sw.ini_given != !cfg.sw.ope.empty()) return usage_error("ini: and ope: go together");
        if (cfg.sw.ini_given) {
            if (cfg.sw.ini.empty()) return usage_error("ini: names no folder");
            if (!fs::is_regular_file(cfg.ini_path(), ec))
                return usage_error("no velarion.ini in " + cfg.sw.ini);
            Leggi_Param_Utenti(agent);
        } else {
            cfg.op.Dir_Loghi = input.parent_path().string() + "/";
            cfg.op.unione_DIR = cfg.op.Dir_Loghi;
        }
        // A work folder of its own: never the agent's, which may be at work.
        const compose::WorkFolder work;
        cfg.op.tempozip_dir = work.path();
        cfg.derive();
        controllo_dll(agent);

        // From here on every activity line is shown as it is added.
        agent.list.set_on_add(print_line);

        // The print file is composed from its copy in the work folder, as an attachment is.
        const std::string name = input.filename().string();
        const std::string copy = work.path() + name;
        fs::copy_file(input, copy, fs::copy_options::overwrite_existing);
        MessageLayout layout(o.style);
        long page_section_end = 9999999;
        const char* only[] = {o.type.c_str()};
        const std::string type =
            o.type.empty() ? spool::compose_print_file(agent.rt, layout, copy, name, page_section_end)
                           : spool::compose_print_file(agent.rt, layout, copy, name, page_section_end, only);
        if (type.empty()) {
            std::fprintf(stderr,
                         "velarion-compose: no PDF could be made from %s: every print type was refused "
                         "or too small (see the activity lines)\n",
                         o.file.c_str());
            return 1;
        }
        std::printf("print type: %s\n", type.c_str());

        fs::create_directories(output.parent_path(), ec);
        fs::copy_file(layout.created_pdf(), output, fs::copy_options::overwrite_existing);
        std::printf("pdf: %s\n", output.c_str());
        if (!o.png_dir.empty()) {
            fs::create_directories(o.png_dir);
            for (const auto& png : compose::render_pages(output.string(), o.png_dir, output.stem().string(), o.dpi))
                std::printf("png: %s\n", png.c_str());
        }
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "velarion-compose: %s\n", e.what());
        return 1;
    }
}
