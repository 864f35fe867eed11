// pkzip: adds one file to a zip archive, creating the archive when needed.
//   pkzip <archive> <file>
// The entry is stored under the file's own name (an entry of that name is
// replaced). Exit status 0 when the archive holds the file, non-zero with a
// message on standard error otherwise.
#include <zip.h>

#include <cstdio>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "common/standard_options.h"

namespace {

constexpr const char* kHelp =
    "Usage: pkzip ARCHIVE.zip FILE\n"
    "Adds FILE to the zip archive ARCHIVE.zip, creating the archive when needed.\n"
    "The entry is stored under the file's own name; an entry of that name is replaced.\n"
    "\n"
    "  --help       show this help and exit\n"
    "  --version    show the version and exit\n"
    "\n"
    "Exit status: 0 the archive holds the file, 2 bad arguments, 3 FILE cannot be read,\n"
    "4 the archive cannot be opened, 5 the archive cannot be written.\n";

// Discards an archive that was not closed (nothing is written).
struct ArchiveCloser {
    void operator()(zip_t* z) const {
        if (z) zip_discard(z);
    }
};
using Archive = std::unique_ptr<zip_t, ArchiveCloser>;

int fail(const std::string& text, int status) {
    std::fprintf(stderr, "pkzip: %s\n", text.c_str());
    return status;
}

std::string base_name(const std::string& path) {
    const auto pos = path.find_last_of("/\\");
    return pos == std::string::npos ? path : path.substr(pos + 1);
}

}  // namespace

int main(int argc, char** argv) {
    if (velarion::tools::answer_standard_options(argc, argv, "pkzip", kHelp)) return 0;
    // Empty arguments (two blanks after the program name) are skipped.
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        if (argv[i][0] != '\0') args.emplace_back(argv[i]);
    if (args.size() != 2)
        return fail("usage: pkzip <archive> <file>\nTry 'pkzip --help' for more information.", 2);
    const std::string& archive_path = args[0];
    const std::string& file_path = args[1];

    struct stat st{};
    if (stat(file_path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return fail("cannot read " + file_path, 3);

    int error = 0;
    Archive archive(zip_open(archive_path.c_str(), ZIP_CREATE, &error));
    if (!archive) {
        zip_error_t ze;
        zip_error_init_with_code(&ze, error);
        std::string text = "cannot open " + archive_path + ": " + zip_error_strerror(&ze);
        zip_error_fini(&ze);
        return fail(text, 4);
    }

    zip_source_t* source = zip_source_file(archive.get(), file_path.c_str(), 0, -1);
    if (!source) return fail("cannot read " + file_path + ": " + zip_strerror(archive.get()), 3);
    const std::string entry = base_name(file_path);
    if (zip_file_add(archive.get(), entry.c_str(), source, ZIP_FL_OVERWRITE | ZIP_FL_ENC_GUESS) < 0) {
        zip_source_free(source);  // still ours when the add failed
        return fail("cannot add " + entry + ": " + zip_strerror(archive.get()), 5);
    }
    // The archive now has at least one entry, so closing writes it.
    if (zip_close(archive.get()) != 0)
        return fail("cannot write " + archive_path + ": " + zip_strerror(archive.get()), 5);
    archive.release();  // closed and freed by zip_close

    if (stat(archive_path.c_str(), &st) != 0) return fail("archive not written: " + archive_path, 5);
    return 0;
}
