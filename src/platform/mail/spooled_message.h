// A MIME message generated once and read back by the store or the
// transport as a stream of known size: in memory up to a bound, beyond it
// in an unnamed temporary file, so that a message with a large attachment
// is never whole in memory. Internal to platform/.
#pragma once

#include <cstddef>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vmime/vmime.hpp>

namespace velarion::mail::detail {

// The library's send and store operations take a message as a stream and
// its size (their own, taking the message, build it in a string first);
// the message is generated here once, its attachments read from their files
// as it is. Throws std::system_error (with the errno, ENOSPC for a full
// disk) when the temporary file cannot be written.
class SpooledMessage {
public:
    // Messages up to this size stay in memory.
    static constexpr std::size_t kMemoryBytes = 4 << 20;

    explicit SpooledMessage(const vmime::message& message, std::size_t memory_bytes = kMemoryBytes);
    // The bytes `write` writes (mime_writer.h).
    explicit SpooledMessage(const std::function<void(vmime::utility::outputStream&)>& write,
                            std::size_t memory_bytes = kMemoryBytes);
    SpooledMessage(const SpooledMessage&) = delete;
    SpooledMessage& operator=(const SpooledMessage&) = delete;
    ~SpooledMessage();

    // The message from its start.
    vmime::utility::inputStream& stream();
    std::size_t size() const { return size_; }
    // Whether it went to a temporary file.
    bool on_file() const { return file_.is_open(); }
    // The bytes, when they are in memory (else null: read them by stream()).
    const std::string* in_memory() const { return on_file() ? nullptr : &memory_; }

private:
    class Sink;

    void fill(const std::function<void(vmime::utility::outputStream&)>& write, std::size_t memory_bytes);

    std::string memory_;
    std::fstream file_;
    std::unique_ptr<vmime::utility::inputStream> input_;
    std::size_t size_ = 0;
};

}  // namespace velarion::mail::detail
