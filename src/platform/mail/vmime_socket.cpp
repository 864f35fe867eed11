#include "platform/mail/vmime_socket.h"

#include <string>
#include <vmime/platform.hpp>

namespace velarion::mail::detail {
namespace {

class CoalescingSocket final : public vmime::net::socket {
public:
    explicit CoalescingSocket(vmime::shared_ptr<vmime::net::socket> inner) : inner_(std::move(inner)) {}

    void connect(const vmime::string& address, const vmime::port_t port) override {
        pending_.clear();
        inner_->connect(address, port);
    }
    bool isConnected() const override { return inner_->isConnected(); }
    void disconnect() override {
        try {
            flush();
        } catch (...) {
            // closing anyway
        }
        inner_->disconnect();
    }

    bool waitForRead(const int msecs) override {
        flush();
        return inner_->waitForRead(msecs);
    }
    bool waitForWrite(const int msecs) override {
        flush();
        return inner_->waitForWrite(msecs);
    }
    void receive(vmime::string& buffer) override {
        flush();
        inner_->receive(buffer);
    }
    size_t receiveRaw(vmime::byte_t* buffer, const size_t count) override {
        flush();
        return inner_->receiveRaw(buffer, count);
    }

    void send(const vmime::string& buffer) override { hold(buffer.data(), buffer.size()); }
    void send(const char* str) override { hold(str, std::char_traits<char>::length(str)); }
    void sendRaw(const vmime::byte_t* buffer, const size_t count) override {
        hold(reinterpret_cast<const char*>(buffer), count);
    }
    // Its caller needs to know what went: nothing is held back.
    size_t sendRawNonBlocking(const vmime::byte_t* buffer, const size_t count) override {
        flush();
        return inner_->sendRawNonBlocking(buffer, count);
    }

    size_t getBlockSize() const override { return inner_->getBlockSize(); }
    unsigned int getStatus() const override { return inner_->getStatus(); }
    const vmime::string getPeerName() const override { return inner_->getPeerName(); }
    const vmime::string getPeerAddress() const override { return inner_->getPeerAddress(); }
    vmime::shared_ptr<vmime::net::timeoutHandler> getTimeoutHandler() override { return inner_->getTimeoutHandler(); }
    void setTracer(vmime::shared_ptr<vmime::net::tracer> tracer) override { inner_->setTracer(tracer); }
    vmime::shared_ptr<vmime::net::tracer> getTracer() override { return inner_->getTracer(); }

private:
    static constexpr std::size_t kLimit = 64 * 1024;

    void hold(const char* data, std::size_t size) {
        if (size < kLimit) {
            pending_.append(data, size);
            if (pending_.size() >= kLimit) flush();
            return;
        }
        // A large piece (a whole message) goes from where it is, after what
        // waits, rather than through a copy that would stay this large.
        flush();
        inner_->sendRaw(reinterpret_cast<const vmime::byte_t*>(data), size);
    }

    void flush() {
        if (pending_.empty()) return;
        try {
            inner_->sendRaw(reinterpret_cast<const vmime::byte_t*>(pending_.data()), pending_.size());
        } catch (...) {
            pending_.clear();  // nothing is sent twice
            throw;
        }
        pending_.clear();  // its room serves the next message
    }

    vmime::shared_ptr<vmime::net::socket> inner_;
    std::string pending_;
};

class CoalescingFactory final : public vmime::net::socketFactory {
public:
    vmime::shared_ptr<vmime::net::socket> create() override {
        return vmime::make_shared<CoalescingSocket>(system()->create());
    }
    vmime::shared_ptr<vmime::net::socket> create(vmime::shared_ptr<vmime::net::timeoutHandler> th) override {
        return vmime::make_shared<CoalescingSocket>(system()->create(th));
    }

private:
    static vmime::shared_ptr<vmime::net::socketFactory> system() {
        return vmime::platform::getHandler()->getSocketFactory();
    }
};

}  // namespace

vmime::shared_ptr<vmime::net::socketFactory> socket_factory() {
    static const auto factory = vmime::make_shared<CoalescingFactory>();
    return factory;
}

}  // namespace velarion::mail::detail
