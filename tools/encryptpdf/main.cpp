// encryptpdf: protects a PDF with an owner password and restricted
// permissions, with the command line of the Windows tool it stands in for:
//
//   encryptpdf -i input.pdf -o output.pdf -w owner_password [-u user_password]
//              [-e 40|128|256] [-p] [-c] [-m]
//
// -p allows printing, -c allows copying text and graphics, -m allows
// changes; everything not allowed needs the owner password. The default key
// length is 40 bits (RC4, the only kind old readers know); 256 is AES-256 of
// PDF 2.0 (revision 6), which current readers expect. The output is
// written under a temporary name beside it and renamed when complete.
//
// A password on the command line can be read by every user of the machine
// (ps, /proc/<pid>/cmdline), so it may come instead from standard input
// ("-w -") or from an inherited file descriptor ("--password-fd N"): the first
// line read there, without its line end.
// An encrypted file cannot be a PDF/A: a PDF/A claim of the input (its XMP
// pdfaid properties and PDF/A output intent) is not carried over.
// Exit status: 0 done, 1 the PDF could not be read or written, 2 bad arguments.

// qpdf 11: use std::shared_ptr in its interfaces, without the transition warning.
#define POINTERHOLDER_TRANSITION 4
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>

#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "common/standard_options.h"
#include "platform/pdf/archival_claim.h"

namespace {

struct Options {
    std::string input, output, owner_password, user_password;
    int password_fd = -1;  // where the owner password is read from, -1: from -w
    int key_length = 40;
    bool allow_print = false, allow_copy = false, allow_modify = false;
};

constexpr const char* kUsage =
    "usage: encryptpdf -i input.pdf -o output.pdf (-w - | --password-fd N | -w owner_password)\n"
    "                  [-u user_password] [-e 40|128|256] [-p] [-c] [-m]\n";

constexpr const char* kHelp =
    "Usage: encryptpdf -i INPUT.pdf -o OUTPUT.pdf PASSWORD-OPTION [OPTION...]\n"
    "Protects a PDF with an owner password: what is not allowed below needs it.\n"
    "An encrypted file is no PDF/A: a PDF/A claim of the input is not carried over.\n"
    "\n"
    "  -i FILE            the PDF to protect\n"
    "  -o FILE            the protected PDF (may be the input file); written under a\n"
    "                     temporary name beside it and renamed when complete\n"
    "  -w -               read the owner password from standard input (first line)\n"
    "  --password-fd N    read the owner password from the inherited file\n"
    "                     descriptor N (first line)\n"
    "  -w PASSWORD        the owner password itself; UNSAFE: every user of the\n"
    "                     machine can read a command line (ps, /proc), kept for\n"
    "                     compatibility only\n"
    "  -u PASSWORD        a user password needed to open the file (default: none)\n"
    "  -e 40|128|256      key length in bits: 40 (RC4, default), 128 (RC4) or\n"
    "                     256 (AES-256, PDF 2.0)\n"
    "  -p                 allow printing\n"
    "  -c                 allow copying text and graphics\n"
    "  -m                 allow changes\n"
    "  --help             show this help and exit\n"
    "  --version          show the version and exit\n"
    "\n"
    "Exit status: 0 done, 1 the PDF could not be read or written, 2 bad arguments.\n";

int usage_error(const std::string& message) {
    std::fprintf(stderr, "encryptpdf: %s\n%sTry 'encryptpdf --help' for more information.\n",
                 message.c_str(), kUsage);
    return 2;
}

// A file descriptor number of --password-fd that is open in this process.
bool parse_fd(std::string_view text, int& fd) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), fd);
    return ec == std::errc() && end == text.data() + text.size() && fd >= 0 && ::fcntl(fd, F_GETFD) != -1;
}

// The first line readable from fd, without "\n" or "\r\n"; the descriptor is
// closed afterwards. False when nothing could be read.
bool read_password(int fd, std::string& password) {
    std::unique_ptr<FILE, int (*)(FILE*)> in(::fdopen(fd, "r"), &std::fclose);
    if (!in) return false;
    char* line = nullptr;
    std::size_t capacity = 0;
    const ssize_t n = ::getline(&line, &capacity, in.get());
    const std::unique_ptr<char, void (*)(void*)> owned(line, &std::free);
    if (n < 0) return false;
    std::string_view text(line, static_cast<std::size_t>(n));
    // C++17 here: the file is compiled as such where qpdf's headers need it.
    if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
    if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    password.assign(text);
    return true;
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
        if (arg == "-i") {
            if (!value(o.input)) return "-i needs the input file";
        } else if (arg == "-o") {
            if (!value(o.output)) return "-o needs the output file";
        } else if (arg == "-w") {
            if (o.password_fd >= 0 || !o.owner_password.empty()) return "the owner password is given twice";
            if (!value(o.owner_password)) return "-w needs the owner password";
            if (o.owner_password == "-") {
                o.owner_password.clear();
                o.password_fd = STDIN_FILENO;
            }
        } else if (arg == "--password-fd") {
            if (o.password_fd >= 0 || !o.owner_password.empty()) return "the owner password is given twice";
            std::string fd;
            if (!value(fd)) return "--password-fd needs a file descriptor number";
            if (!parse_fd(fd, o.password_fd)) return "--password-fd: no open file descriptor " + fd;
        } else if (arg == "-u") {
            if (!value(o.user_password)) return "-u needs the user password";
        } else if (arg == "-e") {
            std::string bits;
            if (!value(bits)) return "-e needs the key length";
            if (bits == "40") o.key_length = 40;
            else if (bits == "128") o.key_length = 128;
            else if (bits == "256") o.key_length = 256;
            else return "key length must be 40, 128 or 256, not " + bits;
        } else if (arg == "-p") {
            o.allow_print = true;
        } else if (arg == "-c") {
            o.allow_copy = true;
        } else if (arg == "-m") {
            o.allow_modify = true;
        } else {
            return "unknown option " + std::string(arg);
        }
    }
    if (o.input.empty()) return "no input file (-i)";
    if (o.output.empty()) return "no output file (-o)";
    if (o.password_fd >= 0 && !read_password(o.password_fd, o.owner_password))
        return "the owner password could not be read";
    if (o.owner_password.empty()) return "no owner password (-w - or --password-fd)";
    return "";
}

void encrypt(const Options& o, const std::string& temp) {
    QPDF pdf;
    pdf.processFile(o.input.c_str());
    velarion::archival_claim::remove(pdf);
    QPDFWriter writer(pdf, temp.c_str());
    if (o.key_length == 40) {
        writer.setR2EncryptionParametersInsecure(o.user_password.c_str(), o.owner_password.c_str(),
                                                 o.allow_print, o.allow_modify, o.allow_copy,
                                                 o.allow_modify);
    } else if (o.key_length == 256) {
        // Revision 6: the same permissions as below, the metadata encrypted too.
        writer.setR6EncryptionParameters(o.user_password.c_str(), o.owner_password.c_str(),
                                         o.allow_copy, o.allow_copy, o.allow_modify, o.allow_modify,
                                         o.allow_modify, o.allow_modify,
                                         o.allow_print ? qpdf_r3p_full : qpdf_r3p_none, true);
    } else {
        writer.setR3EncryptionParametersInsecure(
            o.user_password.c_str(), o.owner_password.c_str(), o.allow_copy, o.allow_copy,
            o.allow_modify, o.allow_modify, o.allow_modify, o.allow_modify,
            o.allow_print ? qpdf_r3p_full : qpdf_r3p_none);
    }
    writer.write();
}

}  // namespace

int main(int argc, char** argv) {
    if (velarion::tools::answer_standard_options(argc, argv, "encryptpdf", kHelp)) return 0;
    Options o;
    if (const std::string error = parse(argc, argv, o); !error.empty()) return usage_error(error);

    namespace fs = std::filesystem;
    std::error_code ec;
    if (!fs::is_regular_file(o.input, ec)) {
        std::fprintf(stderr, "encryptpdf: input file not found: %s\n", o.input.c_str());
        return 1;
    }
    const std::string temp = o.output + ".part" + std::to_string(::getpid());
    try {
        encrypt(o, temp);
        fs::rename(temp, o.output);
        return 0;
    } catch (const std::exception& e) {
        fs::remove(temp, ec);
        std::fprintf(stderr, "encryptpdf: %s\n", e.what());
        return 1;
    }
}
