// The libcurl transport against servers that accept the connection and then
// say nothing, or too little: the call must end with a time-out, not hang.

#include "mail/mail_transport.h"
#include "tests/support/silent_server.h"
#include "tests/support/qt_printers.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace lumopet::mail {
namespace {

using test::SilentServer;

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

// A POP3 server that logs anyone in, lists one message, and after RETR
// sends its reply a few bytes a second (or nothing at all) for as long as
// the client waits. It counts the RETR commands it was sent, on any
// connection.
class SlowRetrServer {
public:
    explicit SlowRetrServer(int bytesPerSecond) : bytesPerSecond_(bytesPerSecond), server_() {
        thread_ = std::thread([this] { serve(); });
    }
    ~SlowRetrServer() {
        stop_ = true;
        ::shutdown(server_.fd(), SHUT_RDWR);
        thread_.join();
    }
    QString hostAndPort() const { return server_.hostAndPort(); }
    int retrCount() const { return retrs_; }

private:
    static bool sendText(int fd, const char* text) { return ::send(fd, text, std::strlen(text), MSG_NOSIGNAL) >= 0; }

    void serve() {
        while (!stop_) {
            const int client = ::accept(server_.fd(), nullptr, nullptr);
            if (client < 0) return;
            talk(client);
            ::close(client);
        }
    }

    void talk(int client) {
        sendText(client, "+OK ready\r\n");
        std::string line;
        char c;
        while (!stop_ && ::recv(client, &c, 1, 0) == 1) {
            if (c != '\n') {
                line += c;
                continue;
            }
            const std::string command = line.substr(0, line.find_first_of(" \r"));
            line.clear();
            if (command == "CAPA") sendText(client, "+OK\r\nUSER\r\nUIDL\r\n.\r\n");
            else if (command == "LIST") sendText(client, "+OK\r\n1 300\r\n.\r\n");
            else if (command == "UIDL") sendText(client, "+OK\r\n1 a1\r\n.\r\n");
            else if (command == "QUIT") return void(sendText(client, "+OK\r\n"));
            else if (command != "RETR") sendText(client, "+OK\r\n");
            else {
                ++retrs_;
                sendText(client, "+OK\r\n");
                while (!stop_) {
                    if (bytesPerSecond_ > 0 && !sendText(client, std::string(static_cast<size_t>(bytesPerSecond_), 'x').c_str()))
                        return;
                    std::this_thread::sleep_for(std::chrono::seconds(1));
                }
            }
        }
    }

    const int bytesPerSecond_;
    SilentServer server_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<int> retrs_{0};
};

struct SlowRetrCase {
    const char* name;
    int bytesPerSecond;
};

class SlowRetr : public ::testing::TestWithParam<SlowRetrCase> {};

// A transfer that makes too little progress ends in a time-out, and the
// command is never sent a second time on a connection of its own.
TEST_P(SlowRetr, EndsInATimeOutWithOneRetr) {
    SlowRetrServer server(GetParam().bytesPerSecond);
    auto transport = MakeCurlTransport({2, 3});
    QElapsedTimer clock;
    clock.start();
    auto session = transport->connectPop3(server.hostAndPort());
    ASSERT_TRUE(session.ok()) << session.error().toStdString();
    const auto login = session.value()->login(QStringLiteral("u"), QStringLiteral("p"), false);
    ASSERT_TRUE(login.ok()) << login.error().toStdString();
    const auto message = session.value()->retrieve(1);
    EXPECT_FALSE(message.ok());
    EXPECT_LT(clock.elapsed(), 15000);
    EXPECT_EQ(server.retrCount(), 1);
}

INSTANTIATE_TEST_SUITE_P(Servers, SlowRetr,
                         ::testing::Values(SlowRetrCase{"Silent", 0}, SlowRetrCase{"Trickling", 3}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace lumopet::mail
