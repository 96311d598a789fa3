// Mail delivery against real servers: run by mail_peers.py inside a network
// namespace with dnsmasq and aiosmtpd servers (see the plan there). The
// servers store each message under TW_PEERS_DIR/mail/<address>/new.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "lib/BWSMTPClient.h"

namespace {

std::string PeersDir() {
    const char* dir = std::getenv("TW_PEERS_DIR");
    if (dir == nullptr)
        return std::string();
    std::string path = std::string("Z:") + dir;
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
}

// The stored messages of one server (or postfix maildir "<address>\\<user>")
// whose Subject is the given one.
std::vector<std::string> Received(const std::string& server, const std::string& subject) {
    std::vector<std::string> out;
    std::string folder = PeersDir() + "\\mail\\" + server + "\\new\\";
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder + "*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return out;
    do {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        HANDLE f = CreateFileA((folder + data.cFileName).c_str(), GENERIC_READ, FILE_SHARE_READ,
                               nullptr, OPEN_EXISTING, 0, nullptr);
        std::string text;
        char buffer[65536];
        DWORD got;
        while (ReadFile(f, buffer, sizeof buffer, &got, nullptr) && got > 0)
            text.append(buffer, got);
        CloseHandle(f);
        if (text.find('\r') == std::string::npos)  // postfix keeps LF line ends
            for (std::size_t i = 0; (i = text.find('\n', i)) != std::string::npos; i += 2)
                text.insert(i, 1, '\r');
        if (text.find("\r\nSubject: " + subject + "\r\n") != std::string::npos)
            out.push_back(text);
    } while (FindNextFileA(find, &data));
    FindClose(find);
    return out;
}

// postfix delivers after its reply to DATA: waits up to 20 s for expected.
std::vector<std::string> Delivered(const std::string& maildir, const std::string& subject,
                                   std::size_t expected) {
    std::vector<std::string> got;
    for (int i = 0; i < 200 && (got = Received(maildir, subject)).size() < expected; ++i)
        Sleep(100);
    return got;
}

std::string Header(const std::string& message, const std::string& name) {
    std::size_t at = message.find(name + ": ");
    if (at == std::string::npos)
        return std::string();
    at += name.size() + 2;
    return message.substr(at, message.find("\r\n", at) - at);
}

std::string Body(const std::string& message) {
    std::size_t at = message.find("\r\n\r\n");
    return at == std::string::npos ? std::string() : message.substr(at + 4);
}

struct TLogLine {
    int Level;
    int Code;
    std::string Text;
    bool operator==(const TLogLine& o) const {
        return Level == o.Level && Code == o.Code && Text == o.Text;
    }
};

std::ostream& operator<<(std::ostream& os, const TLogLine& l) {
    return os << "(" << l.Level << "," << l.Code << ",\"" << l.Text << "\")";
}

class MailPeers : public ::testing::Test {
protected:
    void SetUp() override {
        if (PeersDir().empty())
            GTEST_SKIP() << "run through mail_peers.py, which starts the servers";
        client.OnLog = [this](TObject*, TBWLogLevel level, int code, const std::string& msg) {
            log.push_back({level, code, msg});
        };
        client.OnSendFailed = [this](TObject*, TStringList& list) {
            ++failedCalls;
            for (int i = 0; i < list.Count(); ++i)
                failed.push_back(list.Strings(i));
        };
        client.ConnectTimeout = 10000;
    }

    // Log lines with the system's text of a socket error cut off after the
    // code, which is what the tests compare.
    std::vector<TLogLine> Log() const {
        std::vector<TLogLine> out = log;
        for (TLogLine& l : out) {
            std::size_t cut = l.Text.find("Socket Error # 10061\r\n");
            if (cut != std::string::npos)
                l.Text = l.Text.substr(0, cut) + "Socket Error # 10061";
        }
        return out;
    }

    TBWSMTPClient client;
    std::vector<TLogLine> log;
    std::vector<std::string> failed;
    int failedCalls = 0;
};

TStringList List(std::initializer_list<const char*> items) {
    TStringList out;
    for (const char* s : items)
        out.Add(s);
    return out;
}

}  // namespace

TEST_F(MailPeers, RelayDeliversDotLinesAndBareLineFeedsIntact) {
    client.TransportType = smtHost;
    client.PrimaryHost = "127.0.0.10";
    TStringList to = List({"zoe@example.test", "adam@other.test", "mia@example.test"});
    const std::string body = ".starts with a dot\nbare LF above\r\n.\r\n..two dots\rbare CR\n\nend";
    ASSERT_TRUE(client.Send("monitor@tarnwick.test", to, "Relay dots and line breaks", body, nullptr));
    EXPECT_EQ(Log(), (std::vector<TLogLine>{
                         {llInfo, 2, "Connecting to 127.0.0.10"},
                         {llInfo, 3, "Sending via 127.0.0.10"},
                         {llInfo, 4, "Successfully sent messages for via 127.0.0.10"},
                     }));
    EXPECT_EQ(failedCalls, 0);

    std::vector<std::string> got = Received("127.0.0.10", "Relay dots and line breaks");
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(Header(got[0], "X-MailFrom"), "monitor@tarnwick.test");
    EXPECT_EQ(Header(got[0], "X-RcptTo"), "zoe@example.test, adam@other.test, mia@example.test");
    EXPECT_EQ(Header(got[0], "From"), "monitor@tarnwick.test");
    EXPECT_EQ(Header(got[0], "To"), "zoe@example.test, adam@other.test, mia@example.test");
    EXPECT_EQ(Body(got[0]),
              ".starts with a dot\r\nbare LF above\r\n.\r\n..two dots\r\nbare CR\r\n\r\nend\r\n");
}

TEST_F(MailPeers, RelayFailsOverAfterARefusedConnection) {
    client.TransportType = smtHost;
    client.PrimaryHost = "127.0.0.12";
    client.FailoverHost = "127.0.0.10";
    TStringList to = List({"a@example.test"});
    ASSERT_TRUE(client.Send("monitor@tarnwick.test", to, "Fail-over after refusal", "x", nullptr));
    EXPECT_EQ(Log(), (std::vector<TLogLine>{
                         {llInfo, 2, "Connecting to 127.0.0.12"},
                         {llWarning, 5, "Unable to send messages via 127.0.0.12: Socket Error # 10061"},
                         {llInfo, 2, "Connecting to 127.0.0.10"},
                         {llInfo, 3, "Sending via 127.0.0.10"},
                         {llInfo, 4, "Successfully sent messages for via 127.0.0.10"},
                     }));
    EXPECT_EQ(Received("127.0.0.10", "Fail-over after refusal").size(), 1u);
}

TEST_F(MailPeers, RelayFailsOverAfterAnErrorReply) {
    client.TransportType = smtHost;
    client.PrimaryHost = "127.0.0.11";
    client.FailoverHost = "127.0.0.10";
    TStringList to = List({"a@example.test"});
    ASSERT_TRUE(client.Send("monitor@tarnwick.test", to, "Fail-over after error", "x", nullptr));
    EXPECT_EQ(Log(), (std::vector<TLogLine>{
                         {llInfo, 2, "Connecting to 127.0.0.11"},
                         {llInfo, 3, "Sending via 127.0.0.11"},
                         {llWarning, 5,
                          "Unable to send messages via 127.0.0.11: 554 5.6.0 Message rejected by policy"},
                         {llInfo, 2, "Connecting to 127.0.0.10"},
                         {llInfo, 3, "Sending via 127.0.0.10"},
                         {llInfo, 4, "Successfully sent messages for via 127.0.0.10"},
                     }));
    EXPECT_EQ(Received("127.0.0.11", "Fail-over after error").size(), 0u);
    EXPECT_EQ(Received("127.0.0.10", "Fail-over after error").size(), 1u);
}

TEST_F(MailPeers, SilentServerHitsTheReadTimeOut) {
    client.TransportType = smtHost;
    client.PrimaryHost = "127.0.0.13";
    client.Timeouts.Greeting = 500;  // instead of five minutes
    TStringList to = List({"b@example.test", "a@example.test"});
    EXPECT_FALSE(client.Send("monitor@tarnwick.test", to, "Silent", "x", nullptr));
    EXPECT_EQ(Log(), (std::vector<TLogLine>{
                         {llInfo, 2, "Connecting to 127.0.0.13"},
                         {llWarning, 5, "Unable to send messages via 127.0.0.13: Read timed out."},
                         {llError, 6, "Send via all hosts failed."},
                     }));
    EXPECT_EQ(failed, (std::vector<std::string>{"a@example.test", "b@example.test"}));
}

TEST_F(MailPeers, DirectDeliveryByPreferenceToEachDomain) {
    // alpha.test: MX 10 refuses connections, MX 20 rejects the message,
    // MX 30 takes it. beta.test and BETA.test are served apart. nomx.test
    // has no MX and takes its own mail.
    TStringList to = List({"y@beta.test", "not an address", "x@alpha.test", "z@nomx.test",
                           "w@BETA.test", "Y@beta.test"});
    ASSERT_TRUE(client.Send("monitor@tarnwick.test", to, "Direct", "direct body", nullptr));
    EXPECT_EQ(client.DNSClient->CachedDNSServer, "127.0.0.1");  // from the namespace's resolv.conf
    EXPECT_EQ(Log(), (std::vector<TLogLine>{
        {llInfo, 1, "Sending to 1 recipients at BETA.test"},
        {llVerbose, 1, "Looking up MX records for BETA.test"},
        {llInfo, 2, "Connecting to mx.beta.test"},
        {llInfo, 3, "Sending via mx.beta.test"},
        {llInfo, 4, "Successfully sent messages for BETA.test via mx.beta.test"},
        {llInfo, 1, "Sending to 1 recipients at alpha.test"},
        {llVerbose, 1, "Looking up MX records for alpha.test"},
        {llInfo, 2, "Connecting to mx10.alpha.test"},
        {llWarning, 5, "Unable to send messages for alpha.test via mx10.alpha.test: Socket Error # 10061"},
        {llInfo, 2, "Connecting to mx20.alpha.test"},
        {llInfo, 3, "Sending via mx20.alpha.test"},
        {llWarning, 5, "Unable to send messages for alpha.test via mx20.alpha.test: "
                       "554 5.6.0 Message rejected by policy"},
        {llInfo, 2, "Connecting to mx30.alpha.test"},
        {llInfo, 3, "Sending via mx30.alpha.test"},
        {llInfo, 4, "Successfully sent messages for alpha.test via mx30.alpha.test"},
        {llInfo, 1, "Sending to 1 recipients at beta.test"},
        {llVerbose, 1, "Looking up MX records for beta.test"},
        {llInfo, 2, "Connecting to mx.beta.test"},
        {llInfo, 3, "Sending via mx.beta.test"},
        {llInfo, 4, "Successfully sent messages for beta.test via mx.beta.test"},
        {llInfo, 1, "Sending to 1 recipients at nomx.test"},
        {llVerbose, 1, "Looking up MX records for nomx.test"},
        {llInfo, 2, "Connecting to nomx.test"},
        {llInfo, 3, "Sending via nomx.test"},
        {llInfo, 4, "Successfully sent messages for nomx.test via nomx.test"},
    }));
    EXPECT_EQ(failed, std::vector<std::string>{"not an address"});
    EXPECT_EQ(Received("127.0.0.23", "Direct").size(), 1u);
    EXPECT_EQ(Received("127.0.0.41", "Direct").size(), 1u);
    std::vector<std::string> beta = Received("127.0.0.31", "Direct");
    ASSERT_EQ(beta.size(), 2u);
    std::vector<std::string> rcpts = {Header(beta[0], "X-RcptTo"), Header(beta[1], "X-RcptTo")};
    std::sort(rcpts.begin(), rcpts.end());
    // "Y@beta.test" equals "y@beta.test" ignoring case: one delivery, to
    // the one written first.
    EXPECT_EQ(rcpts, (std::vector<std::string>{"w@BETA.test", "y@beta.test"}));
}

TEST_F(MailPeers, FailedDomainAndRefusedRecipientsAreReported) {
    // nowhere.test has neither MX nor address; the fail-over host refuses
    // connections. beta.test's server refuses "refused..." recipients and
    // takes the others.
    client.FailoverHost = "127.0.0.12";
    TStringList to = List({"ok@beta.test", "q@nowhere.test", "refused1@beta.test", "bad@"});
    EXPECT_FALSE(client.Send("monitor@tarnwick.test", to, "Partly failed", "x", nullptr));
    std::vector<TLogLine> lines = Log();
    ASSERT_EQ(lines.size(), 15u);
    EXPECT_EQ(lines[0], (TLogLine{llInfo, 1, "Sending to 2 recipients at beta.test"}));
    // The refused one goes on to the fail-over host, which fails too.
    EXPECT_EQ(lines[4].Text, "Unable to send messages for beta.test via mx.beta.test: "
                             "Recipient refused1@beta.test refused: 550 5.1.1 No such user here");
    EXPECT_EQ(lines[5], (TLogLine{llInfo, 4, "Successfully sent messages for beta.test via mx.beta.test"}));
    EXPECT_EQ(lines[7].Text, "Unable to send messages for beta.test via 127.0.0.12: Socket Error # 10061");
    EXPECT_EQ(lines[8], (TLogLine{llInfo, 1, "Sending to 1 recipients at nowhere.test"}));
    EXPECT_EQ(lines[10], (TLogLine{llInfo, 2, "Connecting to nowhere.test"}));
    EXPECT_EQ(lines[11].Code, 5);
    EXPECT_EQ(lines[11].Text.substr(0, 58), "Unable to send messages for nowhere.test via nowhere.test:");
    EXPECT_EQ(lines[13], (TLogLine{llWarning, 5,
                                   "Unable to send messages for nowhere.test via 127.0.0.12: "
                                   "Socket Error # 10061"}));
    EXPECT_EQ(lines[14], (TLogLine{llWarning, 6,
                                   "Unable to send to domain nowhere.test. Send via all hosts failed."}));
    EXPECT_EQ(failedCalls, 1);
    EXPECT_EQ(failed, (std::vector<std::string>{"bad@", "q@nowhere.test", "refused1@beta.test"}));
    std::vector<std::string> beta = Received("127.0.0.31", "Partly failed");
    ASSERT_EQ(beta.size(), 1u);
    EXPECT_EQ(Header(beta[0], "X-RcptTo"), "ok@beta.test");
}

TEST_F(MailPeers, AttachmentArrives) {
    // The servers' side checks the decoded attachment against this file.
    std::string path = PeersDir() + "\\attachment.bin";
    std::string content;
    for (int round = 0; round < 300; ++round)
        for (int b = 0; b < 256; ++b)
            content += static_cast<char>(b);
    content += "\r\n.\r\nno line end";
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    DWORD written;
    WriteFile(f, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(f);

    client.TransportType = smtHost;
    client.PrimaryHost = "127.0.0.10";
    TStringList to = List({"a@example.test"});
    TStringList attachments;
    attachments.Add(path);
    ASSERT_TRUE(client.Send("monitor@tarnwick.test", to, "Attachment", "See the attached file.",
                            &attachments));
    std::vector<std::string> got = Received("127.0.0.10", "Attachment");
    ASSERT_EQ(got.size(), 1u);
    EXPECT_NE(got[0].find("Content-Disposition: attachment; filename=\"attachment.bin\""),
              std::string::npos);

    // An unreadable attachment fails every host attempt, found before any
    // session is opened only to be dropped.
    log.clear();
    attachments.Add(PeersDir() + "\\missing.bin");
    EXPECT_FALSE(client.Send("monitor@tarnwick.test", to, "Attachment missing", "x", &attachments));
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].Text.substr(0, 68),
              "Unable to send messages via 127.0.0.10: Cannot read attachment " + PeersDir().substr(0, 5));
}

// postfix with strict client checks (mail_peers.py), whose greeting checks
// each case passes or nothing is delivered: the relay 127.0.0.51 takes
// home.test only, the fail-over 127.0.0.52 every domain.
TEST_F(MailPeers, PostfixRelayRefusalsGoToTheFailoverAndAnOverLongAddressToNoHost) {
    const std::string tooLong = std::string(990, 'l') + "@home.test";  // valid, but no path holds it
    client.TransportType = smtHost;
    client.PrimaryHost = "127.0.0.51";
    client.FailoverHost = "127.0.0.52";
    TStringList to = List({"a@home.test", tooLong.c_str(), "x@other.test"});
    ASSERT_TRUE(client.Send("monitor@home.test", to, "Postfix relay", "x", nullptr));
    EXPECT_EQ(Log(), (std::vector<TLogLine>{
        {llWarning, 5, "Unable to send messages to " + tooLong +
                       ": the address is longer than the 254 characters SMTP allows"},
        {llInfo, 2, "Connecting to 127.0.0.51"},
        {llInfo, 3, "Sending via 127.0.0.51"},
        {llWarning, 5, "Unable to send messages via 127.0.0.51: Recipient x@other.test refused: "
                       "554 5.7.1 <x@other.test>: Relay access denied"},
        {llInfo, 4, "Successfully sent messages for via 127.0.0.51"},
        {llInfo, 2, "Connecting to 127.0.0.52"},
        {llInfo, 3, "Sending via 127.0.0.52"},
        {llInfo, 4, "Successfully sent messages for via 127.0.0.52"},
    }));
    EXPECT_EQ(failed, std::vector<std::string>{tooLong});
    std::vector<std::string> a = Delivered("127.0.0.51\\a", "Postfix relay", 1);
    std::vector<std::string> x = Delivered("127.0.0.52\\x", "Postfix relay", 1);
    ASSERT_EQ(a.size(), 1u);
    ASSERT_EQ(x.size(), 1u);
    EXPECT_EQ(Header(a[0], "\nTo"), "a@home.test, x@other.test");  // "\n": not Delivered-To
    EXPECT_EQ(Header(x[0], "\nTo"), Header(a[0], "\nTo"));
    EXPECT_EQ(Received("127.0.0.52\\a", "Postfix relay").size(), 0u);
}

TEST_F(MailPeers, PostfixMxRefusesOneRecipientAndTheNextMxTakesIt) {
    TStringList to = List({"nobody@home.test", "b@home.test"});
    ASSERT_TRUE(client.Send("monitor@home.test", to, "Postfix direct", "x", nullptr));
    EXPECT_EQ(Log(), (std::vector<TLogLine>{
        {llInfo, 1, "Sending to 2 recipients at home.test"},
        {llVerbose, 1, "Looking up MX records for home.test"},
        {llInfo, 2, "Connecting to mx10.home.test"},
        {llInfo, 3, "Sending via mx10.home.test"},
        {llWarning, 5, "Unable to send messages for home.test via mx10.home.test: Recipient "
                       "nobody@home.test refused: 550 5.1.1 <nobody@home.test>: Recipient address "
                       "rejected: User unknown in virtual mailbox table"},
        {llInfo, 4, "Successfully sent messages for home.test via mx10.home.test"},
        {llInfo, 2, "Connecting to mx20.home.test"},
        {llInfo, 3, "Sending via mx20.home.test"},
        {llInfo, 4, "Successfully sent messages for home.test via mx20.home.test"},
    }));
    EXPECT_EQ(Delivered("127.0.0.51\\b", "Postfix direct", 1).size(), 1u);
    EXPECT_EQ(Delivered("127.0.0.52\\nobody", "Postfix direct", 1).size(), 1u);
}
