#include "platform/os/connect_cause.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace velarion::mail::detail {

namespace {

constexpr int kProbeMs = 3000;

// The errno of one connection attempt (0: connected).
int try_connect(const addrinfo& ai) {
    const int fd = ::socket(ai.ai_family, ai.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai.ai_protocol);
    if (fd < 0) return errno;
    int err = 0;
    if (::connect(fd, ai.ai_addr, ai.ai_addrlen) != 0) {
        err = errno;
        if (err == EINPROGRESS || err == EINTR) {
            pollfd p{fd, POLLOUT, 0};
            const int ready = ::poll(&p, 1, kProbeMs);
            if (ready == 0) {
                err = ETIMEDOUT;
            } else if (ready < 0) {
                err = errno;
            } else {
                socklen_t len = sizeof err;
                if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
            }
        }
    }
    ::close(fd);
    return err;
}

std::string words_for(int err) {
    switch (err) {
        case ECONNREFUSED: return "Connection refused";
        case ETIMEDOUT: return "Timed out";
        case ENETUNREACH: return "Network is unreachable";
        case EHOSTUNREACH: return "No route to host";
        default: return std::strerror(err);
    }
}

}  // namespace

std::string connect_failure_cause(const std::string& address, int port, bool waited_out) {
    if (waited_out) return "Timed out";
    std::string host = address;
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found)
        return "Name not resolved";
    const std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> list(found, &freeaddrinfo);
    int first_error = 0;
    for (const addrinfo* ai = found; ai; ai = ai->ai_next) {
        const int err = try_connect(*ai);
        if (err == 0) return "Connection failed";
        if (!first_error) first_error = err;
    }
    return words_for(first_error);
}

}  // namespace velarion::mail::detail
