// Deflate libraries compared on the page streams of a listing: zlib (at its
// default level, as libharu compressed, and at level 1), libdeflate and
// ISA-L's igzip at their levels. Each page is compressed on its own in zlib
// format, as the PDF writer does. Prints the speed on one core (MB of input
// per second of processor time) and the output per 1,000 pages.
//
// Usage: deflate_bench PRINT_FILE [pages]
// The page streams are shaped like the writer's: one positioned string a
// line, 66 lines a page (or up to each form feed).
//
// This program, unlike the rest of bench/, calls the libraries directly: it
// is what chose the one the writer uses.
#include <isa-l/igzip_lib.h>
#include <libdeflate.h>
#include <sys/resource.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

double cpu_seconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::vector<std::string> page_streams(const std::string& path, long max_pages) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> pages;
    std::string page = "BT\n/F1 10 Tf\n28.346 566.929 Td\n", line;
    int lines = 0;
    auto finish = [&] {
        page += "ET\n";
        pages.push_back(std::move(page));
        page = "BT\n/F1 10 Tf\n28.346 566.929 Td\n";
        lines = 0;
    };
    while (std::getline(in, line) && static_cast<long>(pages.size()) < max_pages) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const bool feed = line.find('\f') != std::string::npos;
        if ((feed && lines > 0) || lines == 66) finish();
        std::string text;
        for (char c : line) {
            if (c == '\f') continue;
            if (c == '(' || c == ')' || c == '\\') text.push_back('\\');
            text.push_back(c);
        }
        while (!text.empty() && text.back() == ' ') text.pop_back();
        page += "0 -7.937 Td\n(" + text + ") Tj\n";
        ++lines;
    }
    if (lines > 0 && static_cast<long>(pages.size()) < max_pages) finish();
    return pages;
}

using Compressor = std::function<size_t(const std::string& in, std::vector<unsigned char>& out)>;

void measure(const char* name, const std::vector<std::string>& pages, const Compressor& compress) {
    std::vector<unsigned char> out(1 << 20);
    size_t in_bytes = 0, out_bytes = 0;
    const double start = cpu_seconds();
    for (const std::string& page : pages) {
        in_bytes += page.size();
        out_bytes += compress(page, out);
    }
    const double secs = cpu_seconds() - start;
    std::printf("%-16s %8.0f MB/s   %6.2f MB/1000 pages   ratio %5.1f %%\n", name,
                in_bytes / 1048576.0 / secs, out_bytes / 1048576.0 * 1000.0 / pages.size(),
                100.0 * out_bytes / in_bytes);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: deflate_bench PRINT_FILE [pages]\n");
        return 2;
    }
    const auto pages = page_streams(argv[1], argc > 2 ? std::atol(argv[2]) : 1000000);
    size_t total = 0;
    for (const auto& p : pages) total += p.size();
    std::printf("%zu pages, %.1f MB of page streams\n", pages.size(), total / 1048576.0);

    for (int level : {6, 1}) {
        const std::string name = "zlib " + std::to_string(level);
        measure(name.c_str(), pages, [level](const std::string& in, std::vector<unsigned char>& out) {
            uLongf n = out.size();
            compress2(out.data(), &n, reinterpret_cast<const Bytef*>(in.data()), in.size(), level);
            return static_cast<size_t>(n);
        });
    }
    for (int level : {1, 2, 3, 4, 6}) {
        libdeflate_compressor* c = libdeflate_alloc_compressor(level);
        const std::string name = "libdeflate " + std::to_string(level);
        measure(name.c_str(), pages, [c](const std::string& in, std::vector<unsigned char>& out) {
            return libdeflate_zlib_compress(c, in.data(), in.size(), out.data(), out.size());
        });
        libdeflate_free_compressor(c);
    }
    const unsigned level_buf[] = {0, ISAL_DEF_LVL1_DEFAULT, ISAL_DEF_LVL2_DEFAULT, ISAL_DEF_LVL3_DEFAULT};
    for (int level : {0, 1, 2, 3}) {
        std::vector<unsigned char> buf(level_buf[level]);
        const std::string name = "isa-l igzip " + std::to_string(level);
        measure(name.c_str(), pages, [&](const std::string& in, std::vector<unsigned char>& out) {
            isal_zstream s;
            isal_deflate_stateless_init(&s);
            s.level = level;
            s.level_buf = buf.empty() ? nullptr : buf.data();
            s.level_buf_size = static_cast<uint32_t>(buf.size());
            s.gzip_flag = IGZIP_ZLIB;
            s.end_of_stream = 1;
            s.flush = NO_FLUSH;
            s.next_in = reinterpret_cast<uint8_t*>(const_cast<char*>(in.data()));
            s.avail_in = static_cast<uint32_t>(in.size());
            s.next_out = out.data();
            s.avail_out = static_cast<uint32_t>(out.size());
            if (isal_deflate_stateless(&s) != COMP_OK) return size_t{0};
            return static_cast<size_t>(s.total_out);
        });
    }
    return 0;
}
