#include "platform/pdf/pdf_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "platform/os/atomic_file.h"
#include "platform/pdf/deflate.h"
#include "platform/pdf/pdf_document.h"
#include "platform/pdf/pdf_syntax.h"

namespace velarion::pdfwriter {

namespace {

// Pages queued at most: enough to keep the thread busy, few enough that
// memory does not grow when compressing is the slower side.
constexpr std::size_t kMaxJobs = 16;
// Jobs queued before the thread is woken: waking it for each (two a page)
// cost more processor time than writing the page objects. drain() wakes it
// for what is left.
constexpr std::size_t kWakeJobs = 8;
constexpr std::size_t kFlushSize = 1 << 18;
constexpr std::uint64_t kWritebackStep = 8 << 20;

std::string system_error(const std::string& what) { return what + ": " + std::strerror(errno); }

}  // namespace

PdfOutput::PdfOutput(const std::string& folder, const std::string& version) {
    namespace fs = std::filesystem;
    std::error_code ec;
    std::string temp = fs::temp_directory_path(ec).string();
    if (temp.empty()) temp = "/tmp";
    // An unnamed file where the file system allows it (it can later be
    // linked into the target folder): in the target folder, else in the
    // temporary folder; else a named one there, removed at once.
    if (!folder.empty()) fd_ = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (fd_ < 0) fd_ = ::open(temp.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (fd_ >= 0) {
        linkable_ = true;
    } else {
        std::string name = temp + "/velarion-pdf-XXXXXX";
        fd_ = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd_ < 0) throw PdfError(system_error("cannot create a temporary file in " + temp));
        ::unlink(name.c_str());
    }
    buffer_.reserve(2 * kFlushSize);
    // The binary comment marks the file as binary for transfer programs.
    buffer_ = "%PDF-" + version + "\n%\xE2\xE3\xCF\xD3\n";
}

PdfOutput::~PdfOutput() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    work_.notify_one();
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) ::close(fd_);
}

void PdfOutput::check() const {
    std::lock_guard lock(mutex_);
    if (error_) std::rethrow_exception(error_);
}

void PdfOutput::add_object(int number, std::string body) {
    Job job;
    job.number = number;
    job.entries = std::move(body);
    push(std::move(job));
}

void PdfOutput::add_stream(int number, std::string entries, std::string data, Packing packing) {
    Job job;
    job.number = number;
    job.entries = std::move(entries);
    job.data = std::move(data);
    job.stream = true;
    job.packing = packing;
    push(std::move(job));
}

void PdfOutput::push(Job job) {
    if (finished_) throw PdfError("the document is already complete");
    if (!thread_.joinable()) {
        if (error_) std::rethrow_exception(error_);
        // Queued without a thread until a full batch is there: starting one
        // costs more than writing a short document.
        if (jobs_.size() < kMaxJobs) {
            jobs_.push_back(std::move(job));
            return;
        }
        thread_ = std::jthread([this] { run(); });
    }
    std::unique_lock lock(mutex_);
    caller_waits_ = true;
    idle_.wait(lock, [this] { return error_ || jobs_.size() < kMaxJobs; });
    caller_waits_ = false;
    if (error_) std::rethrow_exception(error_);
    jobs_.push_back(std::move(job));
    const bool wake = jobs_.size() >= kWakeJobs;
    lock.unlock();
    if (wake) work_.notify_one();
}

// Waits until the thread has written every queued job (writes them here
// when no thread was started).
void PdfOutput::drain() {
    if (!thread_.joinable()) {
        write_queued();
        return;
    }
    work_.notify_one();  // for the jobs short of a batch
    std::unique_lock lock(mutex_);
    caller_waits_ = true;
    idle_.wait(lock, [this] { return error_ || (jobs_.empty() && !busy_); });
    caller_waits_ = false;
    if (error_) std::rethrow_exception(error_);
}

void PdfOutput::write_queued() {
    try {
        for (; !jobs_.empty(); jobs_.pop_front()) write_job(jobs_.front());
    } catch (...) {
        error_ = std::current_exception();
        jobs_.clear();  // a broken file takes nothing more
        throw;
    }
}

// Whether the caller is to be woken: it waits, and there is room for a batch
// of jobs, all is done or the file broke (woken for every free place, it
// would sleep and wake once a job).
bool PdfOutput::caller_to_wake() const {
    return caller_waits_ && (error_ || jobs_.size() + kWakeJobs <= kMaxJobs);
}

void PdfOutput::run() {
    for (;;) {
        Job job;
        bool wake = false;
        {
            std::unique_lock lock(mutex_);
            work_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (jobs_.empty()) return;  // stopping, with everything queued written
            job = std::move(jobs_.front());
            jobs_.pop_front();
            busy_ = true;
            wake = caller_to_wake();
        }
        if (wake) idle_.notify_all();  // room in the queue
        std::exception_ptr failure;
        try {
            write_job(job);
        } catch (...) {
            failure = std::current_exception();
        }
        {
            std::lock_guard lock(mutex_);
            busy_ = false;
            if (failure && !error_) error_ = failure;
            if (error_) jobs_.clear();  // a broken file takes nothing more
            wake = caller_to_wake();
        }
        if (wake) idle_.notify_all();
    }
}

void PdfOutput::write_job(Job& job) {
    Deflater& deflater = deflater_;
    std::string& compressed = compressed_;
    if (static_cast<std::size_t>(job.number) >= offsets_.size()) offsets_.resize(job.number + 1024, 0);
    offsets_[job.number] = written_ + buffer_.size();
    std::string head;
    append_integer(head, job.number);
    head += " 0 obj\n";
    if (!job.stream) {
        // The body written as it is: the page tree of a long document is
        // megabytes, not copied again here.
        write(head);
        write(job.entries);
        write("\nendobj\n", 8);
        return;
    }
    const std::string* data = &job.data;
    const bool deflate = job.packing != Packing::stored;
    if (job.packing == Packing::page_content) deflater.compress_page(job.data, compressed);
    if (job.packing == Packing::deflated) deflater.compress(job.data, compressed);
    if (deflate) data = &compressed;
    head += "<<";
    head += job.entries;
    if (deflate) head += " /Filter /FlateDecode";
    head += " /Length ";
    append_integer(head, static_cast<std::int64_t>(data->size()));
    head += " >>\nstream\n";
    write(head);
    write(*data);
    write("\nendstream\nendobj\n", 18);
    // A large stream (a font file) gives its memory back at once.
    if (job.data.capacity() > (1 << 20)) std::string().swap(job.data);
    if (compressed.capacity() > (1 << 20)) std::string().swap(compressed);
}

void PdfOutput::write(const char* data, std::size_t size) {
    if (buffer_.size() + size > kFlushSize && !buffer_.empty()) flush();
    if (size >= kFlushSize) {
        // Large pieces go straight to the file.
        for (std::size_t done = 0; done < size;) {
            const ssize_t n = ::write(fd_, data + done, size - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) throw PdfError(system_error("cannot write the PDF file"));
            done += static_cast<std::size_t>(n);
            written_ += static_cast<std::uint64_t>(n);
        }
        return;
    }
    buffer_.append(data, size);
}

void PdfOutput::flush() {
    for (std::size_t done = 0; done < buffer_.size();) {
        const ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw PdfError(system_error("cannot write the PDF file"));
        done += static_cast<std::size_t>(n);
    }
    written_ += buffer_.size();
    buffer_.clear();
    // Writing back what is written so far starts now, so that the sync when
    // the document is saved has only the end of a long file left to wait for.
    if (written_ - writeback_from_ >= kWritebackStep) {
        ::sync_file_range(fd_, static_cast<off_t>(writeback_from_), static_cast<off_t>(written_ - writeback_from_),
                          SYNC_FILE_RANGE_WRITE);
        writeback_from_ = written_;
    }
}

void PdfOutput::finish(const std::string& trailer) {
    if (finished_) return;
    drain();
    // The thread is idle: its buffer and offsets are the caller's now.
    const std::uint64_t xref = written_ + buffer_.size();
    std::string table = "xref\n0 ";
    append_integer(table, next_object_);
    table += "\n0000000000 65535 f \n";
    for (int n = 1; n < next_object_; ++n) {
        const std::uint64_t offset = static_cast<std::size_t>(n) < offsets_.size() ? offsets_[n] : 0;
        // A number that was never written: a free entry. Each entry is
        // exactly 20 bytes: ten digits of offset, the generation, the kind.
        char entry[32];
        if (offset >= 10'000'000'000ULL) {
            std::snprintf(entry, sizeof entry, "%010llu 00000 n \n", static_cast<unsigned long long>(offset));
            table += entry;
        } else {
            std::uint64_t digits = offset;
            for (int i = 9; i >= 0; --i, digits /= 10) entry[i] = static_cast<char>('0' + digits % 10);
            std::memcpy(entry + 10, offset == 0 ? " 00001 f \n" : " 00000 n \n", 10);
            table.append(entry, 20);
        }
        if (table.size() > kFlushSize) {
            write(table);
            table.clear();
        }
    }
    table += "trailer\n<< /Size ";
    append_integer(table, next_object_);
    table += trailer;
    table += " >>\nstartxref\n";
    append_integer(table, static_cast<std::int64_t>(xref));
    table += "\n%%EOF\n";
    write(table);
    flush();
    std::deque<std::uint64_t>().swap(offsets_);
    finished_ = true;
}

void PdfOutput::place(const std::string& path) {
    if (!finished_) throw PdfError("SavePDF: the document is not complete");
    // The unnamed file gets its name without a copy when the target is on
    // the same file system; a second save gets a copy of its own. Documents
    // are composed in the work folder, so they are work files.
    errno = 0;
    if (!atomic_file::replace_with(fd_, path, linkable_ && !placed_, atomic_file::Sync::work_file))
        throw PdfError(errno ? system_error("SavePDF: cannot write " + path) : "SavePDF: cannot write " + path);
    placed_ = true;
}

}  // namespace velarion::pdfwriter
