// The libcurl transport against a server that accepts the connection and
// then says nothing: the call must end with a time-out, not hang.

#include "mail/mail_transport.h"
#include "tests/support/qt_printers.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace lumopet::mail {
namespace {

// Listens on a loopback port and never answers; the kernel completes the
// connection on its own.
class SilentServer {
public:
    SilentServer() {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
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
    QString hostAndPort() const { return QStringLiteral("127.0.0.1:%1").arg(port_); }

private:
    int fd_ = -1;
    int port_ = 0;
};

TEST(CurlTransport, ASilentPop3ServerEndsInATimeOut) {
    SilentServer server;
    auto transport = MakeCurlTransport({2, 2});
    QElapsedTimer clock;
    clock.start();
    auto session = transport->connectPop3(server.hostAndPort());
    ASSERT_TRUE(session.ok()) << "the connection itself is accepted";
    const auto login = session.value()->login(QStringLiteral("u"), QStringLiteral("p"), false);
    EXPECT_FALSE(login.ok());
    EXPECT_TRUE(login.error().contains(server.hostAndPort())) << login.error().toStdString();
    EXPECT_TRUE(login.error().contains(QStringLiteral("時間切れ"))) << login.error().toStdString();
    EXPECT_LT(clock.elapsed(), 10000);
}

TEST(CurlTransport, ASilentSmtpServerEndsInATimeOut) {
    SilentServer server;
    auto transport = MakeCurlTransport({2, 2});
    QElapsedTimer clock;
    clock.start();
    const auto sent = transport->sendSmtp(server.hostAndPort(), {}, QStringLiteral("a@localhost"),
                                          QStringLiteral("b@localhost"), "Subject: x\r\n\r\nx\r\n");
    EXPECT_FALSE(sent.ok());
    EXPECT_LT(clock.elapsed(), 10000);
}

}  // namespace
}  // namespace lumopet::mail
