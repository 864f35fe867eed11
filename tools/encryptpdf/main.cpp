// encryptpdf: protects a PDF with an owner password and restricted
// permissions, with the command line of the Windows tool it stands in for:
//
//   encryptpdf -i input.pdf -o output.pdf -w owner_password [-u user_password]
//              [-e 40|128] [-p] [-c] [-m]
//
// -p allows printing, -c allows copying text and graphics, -m allows
// changes; everything not allowed needs the owner password. The default key
// length is 40 bits (RC4, the only kind old readers know). The output is
// written under a temporary name beside it and renamed when complete.
// Exit status: 0 done, 1 the PDF could not be read or written, 2 bad arguments.

// qpdf 11: use std::shared_ptr in its interfaces, without the transition warning.
#define POINTERHOLDER_TRANSITION 4
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <string_view>
#include <unistd.h>

namespace {

struct Options {
    std::string input, output, owner_password, user_password;
    int key_length = 40;
    bool allow_print = false, allow_copy = false, allow_modify = false;
};

constexpr const char* kUsage =
    "usage: encryptpdf -i input.pdf -o output.pdf -w owner_password [-u user_password]"
    " [-e 40|128] [-p] [-c] [-m]\n";

int usage_error(const std::string& message) {
    std::fprintf(stderr, "encryptpdf: %s\n%s", message.c_str(), kUsage);
    return 2;
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
            if (!value(o.owner_password)) return "-w needs the owner password";
        } else if (arg == "-u") {
            if (!value(o.user_password)) return "-u needs the user password";
        } else if (arg == "-e") {
            std::string bits;
            if (!value(bits)) return "-e needs the key length";
            if (bits == "40") o.key_length = 40;
            else if (bits == "128") o.key_length = 128;
            else return "key length must be 40 or 128, not " + bits;
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
    if (o.owner_password.empty()) return "no owner password (-w)";
    return "";
}

void encrypt(const Options& o, const std::string& temp) {
    QPDF pdf;
    pdf.processFile(o.input.c_str());
    QPDFWriter writer(pdf, temp.c_str());
    if (o.key_length == 40) {
        writer.setR2EncryptionParametersInsecure(o.user_password.c_str(), o.owner_password.c_str(),
                                                 o.allow_print, o.allow_modify, o.allow_copy,
                                                 o.allow_modify);
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
