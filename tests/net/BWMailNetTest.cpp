// The SMTP connection against scripted servers on loopback: each test plays
// one server side on its own thread and checks what the client sent.
#include <gtest/gtest.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <functional>
#include <string>
#include <thread>

#include "net/BWMailNet.h"

namespace {

class TScriptedServer {
public:
    // script runs on the server thread with the accepted connection.
    explicit TScriptedServer(std::function<void(TScriptedServer&)> script)
        : FScript(std::move(script)) {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        FListen = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = 0;
        bind(FListen, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        listen(FListen, 1);
        int len = sizeof addr;
        getsockname(FListen, reinterpret_cast<sockaddr*>(&addr), &len);
        Port = ntohs(addr.sin_port);
        FThread = std::thread([this] {
            FClient = accept(FListen, nullptr, nullptr);
            if (FClient != INVALID_SOCKET)
                FScript(*this);
        });
    }
    ~TScriptedServer() {
        Join();
        closesocket(FListen);
    }
    void Join() {
        if (FThread.joinable())
            FThread.join();
        if (FClient != INVALID_SOCKET) {
            closesocket(FClient);
            FClient = INVALID_SOCKET;
        }
    }

    void Say(const std::string& text) { send(FClient, text.data(), static_cast<int>(text.size()), 0); }
    // One line without its CR LF; empty at end of stream.
    std::string Line() {
        std::string line;
        char c;
        while (recv(FClient, &c, 1, 0) == 1) {
            Received += c;
            if (c == '\n')
                break;
            line += c;
        }
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        return line;
    }
    // The DATA content up to and without the closing ".".
    std::string Data() {
        std::string data;
        for (;;) {
            std::string line = Line();
            if (line == "." || Received.empty())
                break;
            data += line + "\r\n";
            if (Received.size() > 10000000)
                break;
        }
        return data;
    }
    void Close() {
        closesocket(FClient);
        FClient = INVALID_SOCKET;
    }
    // Waits until the client closes.
    void Drain() {
        char buffer[256];
        while (recv(FClient, buffer, sizeof buffer, 0) > 0) {
        }
    }

    unsigned short Port = 0;
    std::string Received;

private:
    std::function<void(TScriptedServer&)> FScript;
    SOCKET FListen = INVALID_SOCKET;
    SOCKET FClient = INVALID_SOCKET;
    std::thread FThread;
};

TBWSMTPConnection* NewConnection(const TScriptedServer& server) {
    auto* c = new TBWSMTPConnection;
    c->Host = "127.0.0.1";
    c->Port = server.Port;
    c->Timeouts.Greeting = c->Timeouts.Command = c->Timeouts.DataInitiation = 5000;
    c->Timeouts.DataBlock = c->Timeouts.DataTermination = c->Timeouts.Quit = 5000;
    return c;
}

// One message as the mail client sends it: built once, then one transaction.
void SendWhole(TBWSMTPConnection& c, const TBWMailMessage& m) {
    c.Send(m.From, m.Recipients(), BuildMailData(m));
}

std::string ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const EBWSMTPError& e) {
        return e.Message();
    }
    return "no error";
}

}  // namespace

TEST(SMTPConnection, FullSessionWithARefusedRecipient) {
    std::string data;
    std::vector<std::string> commands;
    TScriptedServer server([&](TScriptedServer& s) {
        s.Say("220-mail.test ESMTP\r\n220 second greeting line\r\n");
        commands.push_back(s.Line());
        s.Say("250-mail.test\r\n250-SIZE 1000\r\n250 8BITMIME\r\n");
        commands.push_back(s.Line());
        s.Say("250 2.1.0 ok\r\n");
        commands.push_back(s.Line());
        s.Say("250 2.1.5 ok\r\n");
        commands.push_back(s.Line());
        s.Say("550 5.1.1 no such user\r\n");
        commands.push_back(s.Line());
        s.Say("251 2.1.5 will forward\r\n");
        commands.push_back(s.Line());
        s.Say("354 go ahead\r\n");
        data = s.Data();
        s.Say("250 2.0.0 queued\r\n");
        commands.push_back(s.Line());
        s.Say("221 2.0.0 bye\r\n");
        s.Drain();
    });
    std::unique_ptr<TBWSMTPConnection> c(NewConnection(server));
    TBWMailMessage m;
    m.From = "monitor@example.test";
    m.Subject = "Subject line";
    m.Body = ".first\nsecond\r.\r\n..third\n";
    m.AddRecipient("one@example.test");
    m.AddRecipient("two@example.test");
    m.AddRecipient("three@example.test");
    c->Connect(5000);
    SendWhole(*c, m);
    ASSERT_EQ(c->RefusedRecipients().size(), 1u);
    EXPECT_EQ(c->RefusedRecipients()[0].Address, "two@example.test");
    EXPECT_EQ(c->RefusedRecipients()[0].Reply, "550 5.1.1 no such user");
    c->Disconnect();
    EXPECT_FALSE(c->Connected());
    server.Join();

    ASSERT_EQ(commands.size(), 7u);
    EXPECT_EQ(commands[0].substr(0, 5), "EHLO ");
    EXPECT_EQ(commands[1], "MAIL FROM:<monitor@example.test>");
    EXPECT_EQ(commands[2], "RCPT TO:<one@example.test>");
    EXPECT_EQ(commands[3], "RCPT TO:<two@example.test>");
    EXPECT_EQ(commands[4], "RCPT TO:<three@example.test>");
    EXPECT_EQ(commands[5], "DATA");
    EXPECT_EQ(commands[6], "QUIT");

    // Every line break on the wire is CR LF, and no line is a lone ".".
    const std::string& wire = server.Received;
    for (std::size_t i = 0; i < wire.size(); ++i) {
        if (wire[i] == '\n') {
            ASSERT_TRUE(i > 0 && wire[i - 1] == '\r') << "bare LF at " << i;
        }
        if (wire[i] == '\r') {
            ASSERT_TRUE(i + 1 < wire.size() && wire[i + 1] == '\n') << "bare CR at " << i;
        }
    }
    std::size_t bodyStart = data.find("\r\n\r\n");
    ASSERT_NE(bodyStart, std::string::npos);
    EXPECT_EQ(data.substr(bodyStart + 4), "..first\r\nsecond\r\n..\r\n...third\r\n");
    EXPECT_NE(data.find("\r\nTo: one@example.test, two@example.test, three@example.test\r\n"),
              std::string::npos);
    EXPECT_NE(data.find("\r\nMessage-ID: <"), std::string::npos);
    EXPECT_EQ(data.substr(0, 6), "Date: ");
}

TEST(SMTPConnection, FallsBackToHeloWhenEhloIsRefused) {
    std::vector<std::string> commands;
    TScriptedServer server([&](TScriptedServer& s) {
        s.Say("220 old.test\r\n");
        commands.push_back(s.Line());
        s.Say("502 5.5.1 command not implemented\r\n");
        commands.push_back(s.Line());
        s.Say("250 old.test\r\n");
        commands.push_back(s.Line());
        s.Say("221 bye\r\n");
        s.Drain();
    });
    std::unique_ptr<TBWSMTPConnection> c(NewConnection(server));
    c->Connect(5000);
    c.reset();  // a connected session ends with QUIT also when dropped
    server.Join();
    ASSERT_EQ(commands.size(), 3u);
    EXPECT_EQ(commands[0].substr(0, 5), "EHLO ");
    EXPECT_EQ(commands[1], "HELO " + commands[0].substr(5));
    EXPECT_EQ(commands[2], "QUIT");
}

TEST(SMTPConnection, RefusalsRaiseTheReplyAndEndTheSessionPolitely) {
    std::vector<std::string> commands;
    TScriptedServer server([&](TScriptedServer& s) {
        s.Say("220 ok\r\n");
        s.Line();
        s.Say("250 ok\r\n");
        s.Line();
        s.Say("250 ok\r\n");
        commands.push_back(s.Line());
        s.Say("550 5.1.1 unknown\r\n");
        commands.push_back(s.Line());
        s.Say("553-5.1.3 bad\r\n553 5.1.3 really bad\r\n");
        commands.push_back(s.Line());
        s.Say("221 bye\r\n");
        s.Drain();
    });
    std::unique_ptr<TBWSMTPConnection> c(NewConnection(server));
    TBWMailMessage m;
    m.From = "f@x.test";
    m.AddRecipient("a@x.test");
    m.AddRecipient("b@x.test");
    c->Connect(5000);
    EXPECT_THROW(SendWhole(*c, m), EBWSMTPRecipientsRefused);
    ASSERT_EQ(c->RefusedRecipients().size(), 2u);
    EXPECT_EQ(c->RefusedRecipients()[1].Reply, "553 5.1.3 bad 5.1.3 really bad");
    server.Join();
    ASSERT_EQ(commands.size(), 3u);
    EXPECT_EQ(commands[2], "QUIT");  // no DATA when nobody was accepted
}

TEST(SMTPConnection, RejectedMessageRaises) {
    TScriptedServer server([&](TScriptedServer& s) {
        s.Say("220 ok\r\n");
        for (int i = 0; i < 4; ++i) {
            s.Line();
            s.Say(i < 3 ? "250 ok\r\n" : "354 go\r\n");
        }
        s.Data();
        s.Say("554 5.6.0 rejected\r\n");
        s.Line();
        s.Say("221 bye\r\n");
        s.Drain();
    });
    std::unique_ptr<TBWSMTPConnection> c(NewConnection(server));
    TBWMailMessage m;
    m.From = "f@x.test";
    m.AddRecipient("a@x.test");
    c->Connect(5000);
    EXPECT_EQ(ErrorOf([&] { SendWhole(*c, m); }), "554 5.6.0 rejected");
}

TEST(SMTPConnection, BadGreetingsFailCleanly) {
    struct Case {
        std::string bytes;
        std::string error;
    };
    const Case cases[] = {
        {"hello there\r\n", "Malformed SMTP reply: not a reply code"},
        {"220 " + std::string(5000, 'x') + "\r\n", "SMTP reply line too long"},
        {"220-first line\r\n220 cut in the mid", "Connection closed in the middle of a reply."},
        {"", "Connection closed gracefully."},
    };
    for (const Case& cs : cases) {
        TScriptedServer server([&](TScriptedServer& s) {
            s.Say(cs.bytes);
            s.Close();
        });
        std::unique_ptr<TBWSMTPConnection> c(NewConnection(server));
        EXPECT_EQ(ErrorOf([&] { c->Connect(5000); }), cs.error) << cs.bytes.substr(0, 30);
        EXPECT_FALSE(c->Connected());
    }
    // A 554 greeting is a refusal, answered with QUIT.
    std::string quit;
    TScriptedServer server([&](TScriptedServer& s) {
        s.Say("554 no service\r\n");
        quit = s.Line();
        s.Drain();
    });
    std::unique_ptr<TBWSMTPConnection> c(NewConnection(server));
    EXPECT_EQ(ErrorOf([&] { c->Connect(5000); }), "554 no service");
    server.Join();
    EXPECT_EQ(quit, "QUIT");
}

TEST(SMTPConnection, SilentServerHitsTheReadTimeOut) {
    std::string quit;
    TScriptedServer server([&](TScriptedServer& s) {
        quit = s.Line();
        s.Drain();
    });
    std::unique_ptr<TBWSMTPConnection> c(NewConnection(server));
    c->Timeouts.Greeting = 300;
    EXPECT_EQ(ErrorOf([&] { c->Connect(5000); }), "Read timed out.");
    server.Join();
    EXPECT_EQ(quit, "QUIT");  // a slow server is still told we are leaving
}

TEST(SMTPConnection, RefusedConnectAndUnreadableAttachment) {
    // A port nobody listens on: bind one, never listen, close it again.
    unsigned short port;
    {
        SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
        int len = sizeof a;
        getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
        closesocket(s);
    }
    TBWSMTPConnection c;
    c.Host = "127.0.0.1";
    c.Port = port;
    EXPECT_EQ(ErrorOf([&] { c.Connect(5000); }).substr(0, 22), "Socket Error # 10061\r\n");
    c.Host = "";
    EXPECT_EQ(ErrorOf([&] { c.Connect(5000); }), "No host name given");

    std::string commands;
    TScriptedServer server([&](TScriptedServer& s) {
        s.Say("220 ok\r\n");
        s.Line();
        s.Say("250 ok\r\n");
        commands = s.Line();
        s.Say("221 bye\r\n");
        s.Drain();
    });
    std::unique_ptr<TBWSMTPConnection> conn(NewConnection(server));
    TBWMailMessage m;
    m.From = "f@x.test";
    m.AddRecipient("a@x.test");
    m.AddAttachment("C:\\no\\such\\file.bin");
    conn->Connect(5000);
    EXPECT_EQ(ErrorOf([&] { SendWhole(*conn, m); }).substr(0, 43),
              "Cannot read attachment C:\\no\\such\\file.bin:");
    // A sender with a line break never reaches the wire.
    m.From = "f@x.test>\r\nRCPT TO:<evil@x.test";
    EXPECT_EQ(ErrorOf([&] { conn->Send(m.From, m.Recipients(), "x\r\n.\r\n"); }),
              "Invalid sender address.");
    conn->Disconnect();
    server.Join();
    EXPECT_EQ(commands, "QUIT");  // nothing of the transaction started
}
