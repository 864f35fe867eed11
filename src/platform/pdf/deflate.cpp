#include "platform/pdf/deflate.h"

#include <isa-l/igzip_lib.h>

#include <vector>

#include "platform/pdf/pdf_document.h"

namespace velarion::pdfwriter {

// The stream state is large (its history window); it is made once per
// compressor and reset for each stream. The level 1 buffer is made when a
// stream first needs it: a short document's page contents alone never do.
struct Deflater::State {
    isal_zstream stream{};
    std::vector<unsigned char> level_buffer;
    // The Huffman codes of the page contents, made from the first page
    // large enough to show the document's text.
    std::unique_ptr<isal_hufftables> page_codes;
};

namespace {

// A page shorter than this says too little of the document's text to make
// its codes from.
constexpr std::size_t kPageForCodes = 1024;

std::uint8_t* bytes(std::string_view s) { return reinterpret_cast<std::uint8_t*>(const_cast<char*>(s.data())); }

}  // namespace

std::unique_ptr<Deflater::State>& Deflater::spare_state() {
    thread_local std::unique_ptr<State> spare;
    return spare;
}

Deflater::Deflater() : state_(spare_state() ? std::move(spare_state()) : std::make_unique<State>()) {}

Deflater::~Deflater() {
    // Every stream starts from a fresh stream header; the page codes are
    // the document's own.
    state_->page_codes.reset();
    spare_state() = std::move(state_);
}

void Deflater::compress(std::string_view in, std::string& out) { deflate(in, out, nullptr); }

void Deflater::compress_page(std::string_view in, std::string& out) {
    State& st = *state_;
    if (!st.page_codes && in.size() >= kPageForCodes) {
        isal_huff_histogram histogram{};
        isal_update_histogram(bytes(in), static_cast<int>(in.size()), &histogram);
        auto codes = std::make_unique<isal_hufftables>();
        // Every literal and length gets a code, so any later page can use them.
        if (isal_create_hufftables(codes.get(), &histogram) == 0) st.page_codes = std::move(codes);
    }
    deflate(in, out, st.page_codes.get());
}

void Deflater::deflate(std::string_view in, std::string& out, const isal_hufftables* codes) {
    // One call compresses the whole stream into a buffer that is large
    // enough for anything but incompressible data; that is tried again with
    // a larger buffer.
    std::size_t capacity = in.size() + in.size() / 8 + 1024;
    for (;;) {
        out.resize(capacity);
        isal_zstream& s = state_->stream;
        isal_deflate_stateless_init(&s);
        if (codes) {
            // Level 0 with the given codes: no histogram or code made per stream.
            s.level = 0;
            s.hufftables = const_cast<isal_hufftables*>(codes);
        } else {
            s.level = 1;
            if (state_->level_buffer.empty()) state_->level_buffer.resize(ISAL_DEF_LVL1_DEFAULT);
            s.level_buf = state_->level_buffer.data();
            s.level_buf_size = static_cast<std::uint32_t>(state_->level_buffer.size());
        }
        s.gzip_flag = IGZIP_ZLIB;
        s.end_of_stream = 1;
        s.flush = NO_FLUSH;
        s.next_in = bytes(in);
        s.avail_in = static_cast<std::uint32_t>(in.size());
        s.next_out = reinterpret_cast<std::uint8_t*>(out.data());
        s.avail_out = static_cast<std::uint32_t>(out.size());
        const int status = isal_deflate_stateless(&s);
        if (status == COMP_OK) {
            out.resize(s.total_out);
            return;
        }
        if (status != STATELESS_OVERFLOW || capacity > (std::size_t{1} << 31))
            throw PdfError("compression failed (igzip status " + std::to_string(status) + ")");
        capacity *= 2;
    }
}

}  // namespace velarion::pdfwriter
