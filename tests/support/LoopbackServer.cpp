// The loopback HTTP server: plain sockets and one thread; a pipe wakes it to stop, even mid-stall.
#include "LoopbackServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <stdexcept>

namespace tessarin::test {
namespace {

int listenOnLoopback(int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("socket failed");
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 8) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        ::close(fd);
        throw std::runtime_error("cannot listen on the loopback address");
    }
    port = ntohs(addr.sin_port);
    return fd;
}

// Waits for `fd` or the wake pipe; false when woken to stop.
bool waitFor(int fd, int wake) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {wake, POLLIN, 0}};
    while (::poll(fds, 2, -1) < 0) {}
    return !(fds[1].revents & POLLIN);
}

void sendAll(int fd, const std::string& data) {
    std::size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return;  // the client gave up (as it should on an oversized reply)
        sent += static_cast<std::size_t>(n);
    }
}

}  // namespace

LoopbackServer::LoopbackServer(std::function<HttpReply(const std::string&)> handler) : handler_(std::move(handler)) {
    listener_ = listenOnLoopback(port_);
    if (::pipe2(wake_, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    thread_ = std::thread([this] { serve(); });
}

LoopbackServer::~LoopbackServer() {
    (void)!::write(wake_[1], "x", 1);
    thread_.join();
    ::close(listener_);
    ::close(wake_[0]);
    ::close(wake_[1]);
}

std::string LoopbackServer::url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/lookup"; }

std::vector<std::string> LoopbackServer::requests() {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::string LoopbackServer::refusingUrl() {
    int port = 0;
    ::close(listenOnLoopback(port));
    return "http://127.0.0.1:" + std::to_string(port) + "/lookup";
}

void LoopbackServer::serve() {
    while (waitFor(listener_, wake_[0])) {
        const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) continue;
        answer(connection);
        ::close(connection);
    }
}

void LoopbackServer::answer(int connection) {
    std::string request;
    std::size_t headerEnd = std::string::npos, bodyLength = 0;
    char buffer[4096];
    while (headerEnd == std::string::npos || request.size() < headerEnd + 4 + bodyLength) {
        if (!waitFor(connection, wake_[0])) return;
        const ssize_t n = ::recv(connection, buffer, sizeof buffer, 0);
        if (n <= 0) return;
        request.append(buffer, static_cast<std::size_t>(n));
        if (headerEnd == std::string::npos && (headerEnd = request.find("\r\n\r\n")) != std::string::npos) {
            std::string headers = request.substr(0, headerEnd);
            for (auto& c : headers) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (auto at = headers.find("content-length:"); at != std::string::npos)
                bodyLength = std::strtoul(headers.c_str() + at + 15, nullptr, 10);
        }
    }
    const std::string body = request.substr(headerEnd + 4, bodyLength);
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(body);
    }
    const HttpReply reply = handler_(body);
    if (reply.stall) {
        waitFor(wake_[0], wake_[0]);
        return;
    }
    std::string head = "HTTP/1.1 " + std::to_string(reply.status) + " Reply\r\nContent-Type: application/json\r\n";
    if (reply.withLength) head += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
    sendAll(connection, head + "Connection: close\r\n\r\n" + reply.body);
}

}  // namespace tessarin::test
