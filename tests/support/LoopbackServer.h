// A tiny HTTP/1.1 server on 127.0.0.1 for tests of network clients: one connection at a time, each
// answered by the test's handler, which may also stall or drop the connection.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tessarin::test {

struct HttpReply {
    int status = 200;
    std::string body;
    bool withLength = true;  // else the body ends where the connection closes
    bool stall = false;      // read the request, answer nothing until the server stops
};

class LoopbackServer {
public:
    explicit LoopbackServer(std::function<HttpReply(const std::string& requestBody)> handler);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    std::string url() const;              // http://127.0.0.1:PORT/lookup
    std::vector<std::string> requests();  // the request bodies received, in order

    // An address on the loopback port where nothing listens (bound, then closed).
    static std::string refusingUrl();

private:
    void serve();
    void answer(int connection);

    std::function<HttpReply(const std::string&)> handler_;
    int listener_ = -1;
    int wake_[2] = {-1, -1};
    int port_ = 0;
    std::mutex mutex_;
    std::vector<std::string> requests_;
    std::thread thread_;
};

}  // namespace tessarin::test
