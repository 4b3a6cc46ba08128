#include "block_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <string>
#include <system_error>

namespace tessel::bench {
namespace {

[[noreturn]] void Fail(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

// Blocking: the server has nothing else to do while a reply goes out.
bool SendAll(int fd, const uint8_t* bytes, std::size_t count) {
    while (count > 0) {
        const ssize_t n = ::send(fd, bytes, count, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes += n;
        count -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

BlockServer::BlockServer(std::vector<uint8_t> reply) : reply_(std::move(reply)) {
    listener_ = Fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (listener_.get() < 0) Fail("socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener_.get(), reinterpret_cast<sockaddr*>(&address), length) != 0) Fail("bind");
    if (::listen(listener_.get(), 4) != 0) Fail("listen");
    if (::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) Fail("getsockname");
    port_ = ntohs(address.sin_port);
    int stop[2];
    if (::pipe2(stop, O_CLOEXEC) != 0) Fail("pipe2");
    stopRead_ = Fd(stop[0]);
    stopWrite_ = Fd(stop[1]);
    thread_ = std::thread([this] { Serve(); });
}

BlockServer::~BlockServer() {
    const char byte = 0;
    (void)!::write(stopWrite_.get(), &byte, 1);
    thread_.join();
}

void BlockServer::Serve() {
    std::vector<Fd> connections;
    std::vector<pollfd> watched;
    char in[4096];
    for (;;) {
        watched.assign({{stopRead_.get(), POLLIN, 0}, {listener_.get(), POLLIN, 0}});
        for (const Fd& c : connections) watched.push_back({c.get(), POLLIN, 0});
        if (::poll(watched.data(), watched.size(), -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (watched[0].revents) return;
        if (watched[1].revents & POLLIN) {
            Fd accepted(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
            if (accepted.get() >= 0) {
                const int one = 1;
                ::setsockopt(accepted.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                connections.push_back(std::move(accepted));
            }
        }
        for (std::size_t i = 2; i < watched.size(); ++i) {
            if (!watched[i].revents) continue;
            const ssize_t n = ::recv(watched[i].fd, in, sizeof in, 0);
            const auto lines = n > 0 ? std::count(in, in + n, '\n') : 0;
            bool open = n > 0;
            for (long k = 0; k < lines && open; ++k) open = SendAll(watched[i].fd, reply_.data(), reply_.size());
            if (!open) {
                std::erase_if(connections, [fd = watched[i].fd](const Fd& c) { return c.get() == fd; });
            }
        }
    }
}

}  // namespace tessel::bench
