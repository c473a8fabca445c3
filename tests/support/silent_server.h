#pragma once
// A server for the time-out tests: it listens on a loopback port and never
// answers; the kernel completes the connection on its own.

#include <QString>

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace lumopet::test {

class SilentServer {
public:
    SilentServer() : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(::listen(fd_, 4), 0);
        socklen_t length = sizeof address;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }
    ~SilentServer() { ::close(fd_); }
    SilentServer(const SilentServer&) = delete;
    SilentServer& operator=(const SilentServer&) = delete;

    QString hostAndPort() const { return QStringLiteral("127.0.0.1:%1").arg(port_); }
    int fd() const { return fd_; }

private:
    int fd_;
    int port_ = 0;
};

}  // namespace lumopet::test
