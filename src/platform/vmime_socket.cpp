#include "platform/vmime_socket.h"

#include <string>
#include <utility>

namespace velarion::mail::detail {

namespace {

namespace vn = vmime::net;

// Enough for a full TCP window of body text in one write; the body of a
// large message still streams.
constexpr std::size_t flush_at = 64 * 1024;

// Forwards to the library's socket; sends are kept in `pending_` until the
// next read, wait for data, non-blocking send or disconnection.
class CoalescingSocket final : public vn::socket {
public:
    explicit CoalescingSocket(vmime::shared_ptr<vn::socket> inner) : inner_(std::move(inner)) {}

    void connect(const vmime::string& address, const vmime::port_t port) override {
        pending_.clear();
        inner_->connect(address, port);
    }
    void disconnect() override {
        // What is left (a QUIT or LOGOUT) goes if it can; a dead peer must not
        // stop the disconnection.
        try {
            flush();
        } catch (...) {
            pending_.clear();
        }
        inner_->disconnect();
    }
    bool isConnected() const override { return inner_->isConnected(); }

    bool waitForRead(const int msecs) override {
        flush();
        return inner_->waitForRead(msecs);
    }
    bool waitForWrite(const int msecs) override { return inner_->waitForWrite(msecs); }

    void receive(vmime::string& buffer) override {
        flush();
        inner_->receive(buffer);
    }
    size_t receiveRaw(vmime::byte_t* buffer, const size_t count) override {
        flush();
        return inner_->receiveRaw(buffer, count);
    }

    void send(const vmime::string& buffer) override { keep(buffer.data(), buffer.size()); }
    void send(const char* str) override { keep(str, std::char_traits<char>::length(str)); }
    void sendRaw(const vmime::byte_t* buffer, const size_t count) override {
        keep(reinterpret_cast<const char*>(buffer), count);
    }
    size_t sendRawNonBlocking(const vmime::byte_t* buffer, const size_t count) override {
        flush();
        return inner_->sendRawNonBlocking(buffer, count);
    }

    size_t getBlockSize() const override { return inner_->getBlockSize(); }
    unsigned int getStatus() const override { return inner_->getStatus(); }
    const vmime::string getPeerName() const override { return inner_->getPeerName(); }
    const vmime::string getPeerAddress() const override { return inner_->getPeerAddress(); }
    vmime::shared_ptr<vn::timeoutHandler> getTimeoutHandler() override { return inner_->getTimeoutHandler(); }
    void setTracer(vmime::shared_ptr<vn::tracer> tracer) override { inner_->setTracer(tracer); }
    vmime::shared_ptr<vn::tracer> getTracer() override { return inner_->getTracer(); }

private:
    void keep(const char* data, std::size_t size) {
        pending_.append(data, size);
        if (pending_.size() >= flush_at) flush();
    }
    void flush() {
        if (pending_.empty()) return;
        std::string out;
        out.swap(pending_);  // emptied first: a failed write is not sent again
        inner_->send(out);
    }

    vmime::shared_ptr<vn::socket> inner_;
    std::string pending_;
};

class Factory final : public vn::socketFactory {
public:
    explicit Factory(vmime::shared_ptr<vn::socketFactory> inner) : inner_(std::move(inner)) {}
    vmime::shared_ptr<vn::socket> create() override {
        return vmime::make_shared<CoalescingSocket>(inner_->create());
    }
    vmime::shared_ptr<vn::socket> create(vmime::shared_ptr<vn::timeoutHandler> th) override {
        return vmime::make_shared<CoalescingSocket>(inner_->create(th));
    }

private:
    vmime::shared_ptr<vn::socketFactory> inner_;
};

}  // namespace

vmime::shared_ptr<vn::socketFactory> coalescing_sockets(vmime::shared_ptr<vn::socketFactory> inner) {
    return vmime::make_shared<Factory>(std::move(inner));
}

}  // namespace velarion::mail::detail
