// The file side of the PDF writer: object numbers and their offsets, a
// second thread that compresses streams and writes objects while the caller
// draws the next page, and the file that becomes the document. Used by the
// PDF writer only. The thread starts once a document has queued a full
// batch of objects: a short one (a one-page invoice) is written by the
// caller when it is finished, without a thread of its own.
//
// The document is written to an unnamed file (in the folder it will be
// saved in when that is known, else the system's temporary folder) and only
// gets a name once it is complete, so a failed or abandoned document never
// leaves a partial file behind.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/pdf/deflate.h"

namespace velarion::pdfwriter {

// How a stream is written: as it is, deflated, or deflated as a page's
// content (with the codes of the document's first page, see Deflater).
enum class Packing { stored, deflated, page_content };

class PdfOutput {
public:
    // `folder`: where the document will be saved, "" when not known;
    // `version`: of the header ("1.4", "1.7").
    explicit PdfOutput(const std::string& folder = {}, const std::string& version = "1.4");
    // Stops the thread; a file never placed disappears with its descriptor.
    ~PdfOutput();
    PdfOutput(const PdfOutput&) = delete;
    PdfOutput& operator=(const PdfOutput&) = delete;

    // A new object number.
    int new_object() { return next_object_++; }
    // Queues an object whose body is complete ("<< ... >>").
    void add_object(int number, std::string body);
    // Queues a stream object: `entries` are its dictionary entries other
    // than /Length and /Filter; the data is compressed on the thread as
    // `packing` says.
    void add_stream(int number, std::string entries, std::string data, Packing packing);
    // Writes everything queued, the cross-reference table and the trailer.
    // `trailer` holds the trailer's entries other than /Size.
    void finish(const std::string& trailer);
    bool finished() const { return finished_; }
    // Gives the finished file the name `path`, replacing a file of that
    // name; nothing is left under that name when it fails.
    void place(const std::string& path);

    // Errors of the thread surface here (and in the calls above) as PdfError.
    void check() const;

private:
    struct Job {
        int number = 0;
        std::string entries;  // dictionary entries, or the whole body of a plain object
        std::string data;
        bool stream = false;
        Packing packing = Packing::stored;
    };

    void push(Job job);
    void drain();
    void write_queued();
    bool caller_to_wake() const;
    void run();
    void write_job(Job& job);
    void write(const char* data, std::size_t size);
    void write(const std::string& s) { write(s.data(), s.size()); }
    void flush();

    int fd_ = -1;
    bool linkable_ = false;  // an O_TMPFILE file that can be given a name
    bool placed_ = false;
    bool finished_ = false;
    int next_object_ = 1;

    // Written by the thread while it runs, by the caller once drained.
    std::string buffer_;
    std::uint64_t written_ = 0;            // bytes handed to the file
    std::uint64_t writeback_from_ = 0;     // start of what has not been sent to the disk yet
    // By object number; 0 = not written. In blocks: a long document's table
    // grows without being copied whole.
    std::deque<std::uint64_t> offsets_;
    Deflater deflater_;        // one a document (its page codes)
    std::string compressed_;   // the stream being written, compressed

    mutable std::mutex mutex_;
    std::condition_variable work_;   // jobs queued or stopping
    std::condition_variable idle_;   // room in the queue or all done
    std::deque<Job> jobs_;
    bool busy_ = false;
    bool caller_waits_ = false;  // in push or drain, for room or the end
    bool stopping_ = false;      // the object goes: the thread ends
    std::exception_ptr error_;
    std::jthread thread_;  // last: stopped and joined before the rest goes
};

}  // namespace velarion::pdfwriter
