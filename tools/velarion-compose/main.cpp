// velarion-compose: one print file composed with an installation's page
// styles exactly as the agent composes an attachment (the pre-analysis, then
// CreaPdf with the print types from the largest to the smallest), without a
// spool, a mail store or a running agent; the pages optionally rendered to
// PNG pictures for people who design styles, overlays and barcodes.
//
//   velarion-compose FILE.txt [--style NAME] [--type CODE] [-o OUT.pdf]
//                    [--png DIR] [--dpi N] [--check] [--watch] [ini:DIR ope:OP]
//
// Exit status: 0 the PDF was made (and, with --check, no problem was
// found), 1 no PDF could be made or a problem was found, 2 bad arguments.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "common/file_problem.h"
#include "common/null_view.h"
#include "common/standard_options.h"
#include "file_watch.h"
#include "page_pictures.h"
#include "pdf/crea_pdf.h"
#include "pdf/layout_state.h"
#include "platform/os/clock.h"
#include "platform/os/paths.h"
#include "platform/os/text_encoding.h"
#include "spool/print_file.h"
#include "startup/agent.h"
#include "startup/tool_load.h"
#include "style_check.h"
#include "work_folder.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kHelp =
    "Usage: velarion-compose FILE.txt [--style NAME] [--type CODE] [-o OUT.pdf] [--png DIR] [--dpi N]\n"
    "                        [--check] [--watch] [ini:DIR ope:OP]\n"
    "Composes one print file into a PDF exactly as the agent composes an attachment:\n"
    "the same composition, the print types from the largest to the smallest into\n"
    "which every line fits. Prints the activity lines and the chosen print type.\n"
    "\n"
    "  --style NAME     the page style (section of loghi.ini), as a message header names it\n"
    "  --type CODE      only this print type (12v, 10o-, ...)\n"
    "  -o OUT.pdf       where the PDF goes (default: FILE.pdf beside FILE.txt)\n"
    "  --png DIR        render every page to DIR/OUT-<page>.png\n"
    "  --dpi N          resolution of the pictures (default 100)\n"
    "  --check          also list every problem of the style, the styles it leads to,\n"
    "                   their overlays, formatting tables, logo pictures and barcode\n"
    "                   files, one per line as FILE:LINE TEXT (the agent reads such\n"
    "                   values as empty or as their default); exit status 1 when\n"
    "                   there is one\n"
    "  --watch          compose again (with the pictures) whenever the print file or a\n"
    "                   file of the logo folder changes; stop with Ctrl+C\n"
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
    "Exit status: 0 the PDF was made (with --check: and no problem was found),\n"
    "1 no PDF could be made (or a problem was found), 2 bad arguments. With --watch,\n"
    "the status of the last composition.\n";

struct Options {
    std::string file, style, type, output, png_dir;
    int dpi = 100;
    bool check = false, watch = false;
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
        } else if (arg == "--check") {
            o.check = true;
        } else if (arg == "--watch") {
            o.watch = true;
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

// Ctrl+C (or SIGTERM) ends --watch between two compositions.
volatile std::sig_atomic_t g_stop = 0;
void on_stop(int) { g_stop = 1; }

// The PDF made in the work folder moved to where it goes: renamed when both
// are on one file system (the work folder is removed anyway), else copied;
// an output that is a link is written through, as a copy does.
void deliver_pdf(const fs::path& made, const fs::path& output) {
    std::error_code ec;
    if (!fs::is_symlink(fs::symlink_status(output, ec))) {
        fs::rename(made, output, ec);
        if (!ec) return;
    }
    fs::copy_file(made, output, fs::copy_options::overwrite_existing);
}

// One composition of the print file (and, with --check, the check of its
// style); returns the exit status. With a watch, the print file and the logo
// folder are watched from before the print file is read, and what the
// composition writes itself is accepted as no change.
int compose_once(const Options& o, const fs::path& input, const fs::path& output, velarion::compose::FileWatch* watch) {
    using namespace velarion;
    try {
        SystemClock clock;
        ComposeView view;
        Agent agent(clock, view);
        const Settings& cfg = agent.settings;

        // The installation's settings, or the print file's folder for styles and merges.
        if (const std::string problem = load_tool_settings(agent, o.keywords, input.parent_path().string() + "/");
            !problem.empty())
            return usage_error(problem);
        // A work folder of its own: never the agent's, which may be at work.
        const compose::WorkFolder work;
        ready_tool(agent, work.path());
        if (watch) watch->watch({input.string()}, {cfg.logo_dir});
        std::vector<std::string> written;

        // From here on every activity line is shown as it is added.
        agent.list.set_on_add(print_line);

        // The print file is composed under its name in the work folder, as an
        // attachment is, where the PDF is written beside it: through a second
        // name where the file system allows one, since a copy of a long
        // listing costs as much as a good part of its composition; else a
        // copy. Not a symbolic link: the composer never reads through one.
        const std::string name = input.filename().string();
        const std::string copy = work.path() + name;
        std::error_code link_error;
        fs::create_hard_link(fs::canonical(input), copy, link_error);
        if (link_error) fs::copy_file(input, copy);
        MessageLayout layout(o.style);
        // The checker's overlays go on past a failing line and name every one.
        layout.state().overlay.checking = o.check;
        // A "///X" invoice is looked for beside the print file.
        const fs::path folder = input.parent_path();
        layout.set_attachment_finder([folder](const std::string& attachment) {
            std::error_code e;
            const fs::path p = folder / attachment;
            return attachment.find('/') == std::string::npos && fs::is_regular_file(p, e) ? p.string() : std::string();
        });
        long page_section_end = 9999999;
        const char* only[] = {o.type.c_str()};
        const std::string type =
            o.type.empty() ? spool::compose_print_file(agent.rt, layout, copy, name, page_section_end)
                           : spool::compose_print_file(agent.rt, layout, copy, name, page_section_end, only);
        int status = 0;
        if (type.empty()) {
            std::fprintf(stderr,
                         "velarion-compose: no PDF could be made from %s: every print type was refused "
                         "or too small (see the activity lines)\n",
                         o.file.c_str());
            if (!layout.refusal().empty())
                std::fprintf(stderr, "velarion-compose: %s\n", velarion::text::cp1252_to_utf8(layout.refusal()).c_str());
            status = 1;
        } else {
            std::printf("print type: %s\n", type.c_str());
            if (!layout.conformance().empty()) std::printf("conformance: %s\n", layout.conformance().c_str());
            std::error_code ec;
            fs::create_directories(output.parent_path(), ec);
            deliver_pdf(layout.created_pdf(), output);
            std::printf("pdf: %s\n", output.c_str());
            written.push_back(output.string());
            if (!o.png_dir.empty()) {
                fs::create_directories(o.png_dir);
                for (const auto& png :
                     compose::render_pages(output.string(), o.png_dir, output.stem().string(), o.dpi)) {
                    std::printf("png: %s\n", png.c_str());
                    written.push_back(png);
                }
            }
        }
        if (o.check) {
            // The style itself and every file it leads to, beyond what this print file met.
            agent.list.set_on_add(nullptr);
            std::vector<FileProblem> problems = compose::check_style(agent.rt, layout.state(), o.style);
            for (const auto& p : layout.problems())
                if (std::find(problems.begin(), problems.end(), p) == problems.end()) problems.push_back(p);
            // Grouped by file, in the order of their lines.
            std::stable_sort(problems.begin(), problems.end(), [](const FileProblem& x, const FileProblem& y) {
                return x.file != y.file ? x.file < y.file : x.line < y.line;
            });
            for (const auto& p : problems) print_line(p.message());
            std::printf("check: %zu problem%s\n", problems.size(), problems.size() == 1 ? "" : "s");
            if (!problems.empty()) status = 1;
        }
        std::fflush(stdout);
        if (watch) watch->accept(written);
        return status;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "velarion-compose: %s\n", e.what());
        return 1;
    }
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

    if (!o.watch) return compose_once(o, input, output, nullptr);

    // Composes again when the print file or a file of the logo folder changes.
    std::signal(SIGINT, on_stop);
    std::signal(SIGTERM, on_stop);
    velarion::compose::FileWatch watch;
    int status = compose_once(o, input, output, &watch);
    if (status == 2) return status;
    std::fprintf(stderr, "velarion-compose: watching %s and the logo folder (Ctrl+C ends)\n", input.c_str());
    while (!g_stop) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        if (g_stop || !watch.changed()) continue;
        std::printf("\n--- composed again: a watched file changed\n");
        std::fflush(stdout);
        if (!fs::is_regular_file(input, ec)) {
            std::fprintf(stderr, "velarion-compose: cannot read %s\n", o.file.c_str());
            continue;
        }
        status = compose_once(o, input, output, &watch);
    }
    return status;
}
