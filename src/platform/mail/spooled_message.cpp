#include "platform/mail/spooled_message.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace velarion::mail::detail {

namespace fs = std::filesystem;

// Keeps what is written in memory until it would pass the bound, then moves
// it to an unnamed temporary file and writes on there.
class SpooledMessage::Sink final : public vmime::utility::outputStream {
public:
    Sink(std::string& memory, std::fstream& file, std::size_t bound) : memory_(memory), file_(file), bound_(bound) {}

    void flush() override {
        if (file_.is_open() && !file_.flush()) fail();
    }

protected:
    void writeImpl(const vmime::byte_t* const data, const size_t count) override {
        const auto* bytes = reinterpret_cast<const char*>(data);
        if (!file_.is_open() && memory_.size() + count <= bound_) {
            memory_.append(bytes, count);
            return;
        }
        if (!file_.is_open()) {
            open_file();
            write(memory_.data(), memory_.size());
            std::string().swap(memory_);
        }
        write(bytes, count);
    }

private:
    void open_file() {
        std::error_code ec;
        dir_ = fs::temp_directory_path(ec).string();
        if (dir_.empty()) dir_ = "/tmp";
        std::string name = dir_ + "/velarion-mail-XXXXXX";
        const int fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd < 0) throw std::system_error(errno, std::generic_category(), "cannot create a temporary file in " + dir_);
        ::close(fd);
        file_.open(name, std::ios::in | std::ios::out | std::ios::binary | std::ios::trunc);
        ::unlink(name.c_str());  // the open stream keeps the file; nothing is left behind
        if (!file_) throw std::runtime_error("cannot open the temporary file " + name);
    }

    void write(const char* data, std::size_t count) {
        // The stream's own failure says only "iostream error": the write's
        // errno (ENOSPC for a full disk) says why.
        errno = 0;
        if (!file_.write(data, static_cast<std::streamsize>(count))) fail();
    }

    [[noreturn]] void fail() const {
        const int err = errno ? errno : EIO;
        throw std::system_error(err, std::generic_category(), "cannot write the message to a temporary file in " + dir_);
    }

    std::string& memory_;
    std::fstream& file_;
    std::size_t bound_;
    std::string dir_;
};

SpooledMessage::SpooledMessage(const vmime::message& message, std::size_t memory_bytes) {
    fill([&](vmime::utility::outputStream& os) { message.generate(os); }, memory_bytes);
}

SpooledMessage::SpooledMessage(const std::function<void(vmime::utility::outputStream&)>& write,
                               std::size_t memory_bytes) {
    fill(write, memory_bytes);
}

void SpooledMessage::fill(const std::function<void(vmime::utility::outputStream&)>& write, std::size_t memory_bytes) {
    {
        Sink sink(memory_, file_, memory_bytes);
        write(sink);
        sink.flush();
    }
    size_ = file_.is_open() ? static_cast<std::size_t>(file_.tellp()) : memory_.size();
}

SpooledMessage::~SpooledMessage() = default;

vmime::utility::inputStream& SpooledMessage::stream() {
    if (file_.is_open()) {
        file_.clear();
        file_.seekg(0);
        input_ = std::make_unique<vmime::utility::inputStreamAdapter>(file_);
    } else {
        input_ = std::make_unique<vmime::utility::inputStreamStringAdapter>(memory_);
    }
    return *input_;
}

}  // namespace velarion::mail::detail
