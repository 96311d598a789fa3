#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lib/BWSMTPClient.h"

TEST(IsValidEmailAddress, FollowsItsRules) {
    struct Case {
        const char* address;
        bool valid;
    };
    const Case cases[] = {
        {"alice@example.com", true},
        {"Alice.Smith@Example.COM", true},   // judged by its lower-case form
        {"admin@localhost", true},           // one label, no dot
        {".a..b.@example.com", true},        // dots in the local part are free
        {"a+b%c&d_e-f@x_y-z.com", true},
        {"a@-x-.y_", true},                  // hyphen, underscore at label edges
        {"", false},
        {"no-at-sign", false},
        {"a@b@c.com", false},
        {"@example.com", false},
        {"alice@", false},
        {"a@.example.com", false},
        {"a@example.com.", false},
        {"a@example..com", false},
        {" a@example.com", false},
        {"a@example.com ", false},
        {"a b@example.com", false},
        {"\"a\"@example.com", false},
        {"a'b@example.com", false},
        {"a,b@example.com", false},
        {"a(b)@example.com", false},
        {"a!b@example.com", false},
        {"ren\xe9@example.com", false},      // a letter outside A to Z
        {"a@exa\xc9mple.com", false},
        {"a@ex+ample.com", false},           // allowed only before the at sign
        {"a@ex%ample.com", false},
        {"a@ex&ample.com", false},
        {"a@[127.0.0.1]", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsValidEmailAddress(c.address), c.valid) << "'" << c.address << "'";
}

TEST(SMTPClient, DomainIsTheTextAfterTheFirstAtSignAsWritten) {
    EXPECT_EQ(TBWSMTPClient::GetDomain("a@Example.COM"), "Example.COM");
    EXPECT_EQ(TBWSMTPClient::GetDomain("a@b@c"), "b@c");
    EXPECT_EQ(TBWSMTPClient::GetDomain("nodomain"), "nodomain");
    EXPECT_EQ(TBWSMTPClient::GetDomain("a@"), "");
}

namespace {

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

// A client whose events are recorded.
struct TRecordedClient {
    TBWSMTPClient Client;
    std::vector<TLogLine> Log;
    std::vector<std::vector<std::string>> Failed;  // one entry per OnSendFailed call
    TObject* LogSender = nullptr;

    TRecordedClient() {
        Client.OnLog = [this](TObject* sender, TBWLogLevel level, int code, const std::string& msg) {
            LogSender = sender;
            Log.push_back({level, code, msg});
        };
        Client.OnSendFailed = [this](TObject* sender, TStringList& list) {
            EXPECT_EQ(sender, &Client);
            std::vector<std::string> copy;
            for (int i = 0; i < list.Count(); ++i)
                copy.push_back(list.Strings(i));
            Failed.push_back(copy);
        };
        Client.ConnectTimeout = 5000;
    }
};

TStringList Recipients(std::initializer_list<const char*> list) {
    TStringList out;
    for (const char* s : list)
        out.Add(s);
    return out;
}

std::vector<std::string> Strings(const TStringList& list) {
    std::vector<std::string> out;
    for (int i = 0; i < list.Count(); ++i)
        out.push_back(list.Strings(i));
    return out;
}

// An address on which nothing listens, so a connection is refused at once.
const char* const kRefusingHost = "127.77.0.9";

}  // namespace

TEST(SMTPClient, UnknownTransportDoesNothing) {
    TRecordedClient r;
    r.Client.TransportType = static_cast<TBWSMTPTransport>(2);
    TStringList list = Recipients({"bad address", "a@x.test"});
    EXPECT_FALSE(r.Client.Send("f@x.test", list, "s", "b", nullptr));
    EXPECT_EQ(Strings(list), (std::vector<std::string>{"bad address", "a@x.test"}));
    EXPECT_TRUE(r.Log.empty());
    EXPECT_TRUE(r.Failed.empty());
}

TEST(SMTPClient, AllInvalidRecipientsAreReportedOnceSortedWithoutConnecting) {
    for (TBWSMTPTransport mode : {smtDirect, smtHost}) {
        TRecordedClient r;
        r.Client.TransportType = mode;
        r.Client.PrimaryHost = kRefusingHost;
        TStringList list = Recipients({"zed@", "Bob @x.test", "alice", "bob @x.test", "@b"});
        bool result = r.Client.Send("f@x.test", list, "s", "b", nullptr);
        EXPECT_EQ(list.Count(), 0);
        ASSERT_EQ(r.Failed.size(), 1u);
        // Sorted, case ignored; of two equal ones the one met first stays
        // (validation walks from the last entry).
        EXPECT_EQ(r.Failed[0], (std::vector<std::string>{"@b", "alice", "bob @x.test", "zed@"}));
        if (mode == smtDirect) {
            EXPECT_TRUE(result);
            EXPECT_TRUE(r.Log.empty());  // no group, no connection
        } else {
            // Relay mode does not treat an empty list specially: the host
            // attempt runs (and here fails).
            EXPECT_FALSE(result);
            ASSERT_FALSE(r.Log.empty());
            EXPECT_EQ(r.Log.back(), (TLogLine{llError, 6, "Send via all hosts failed."}));
        }
    }
}

TEST(SMTPClient, EmptyListInDirectModeDoesNothing) {
    TRecordedClient r;
    TStringList list;
    EXPECT_TRUE(r.Client.Send("f@x.test", list, "s", "b", nullptr));
    EXPECT_TRUE(r.Log.empty());
    EXPECT_TRUE(r.Failed.empty());
    EXPECT_EQ(r.Client.DNSClient, nullptr);
}

TEST(SMTPClient, RelayHostsAndFailureLines) {
    TRecordedClient r;
    r.Client.TransportType = smtHost;
    r.Client.PrimaryHost = "";
    r.Client.FailoverHost = kRefusingHost;

    TStringList hosts;
    hosts.Add("stale");
    r.Client.GetMailHosts("ignored.test", hosts);
    EXPECT_EQ(Strings(hosts), (std::vector<std::string>{"", kRefusingHost}));

    TStringList list = Recipients({"b@x.test", "bad", "a@y.test", "B@x.test"});
    EXPECT_FALSE(r.Client.Send("f@x.test", list, "s", "b", nullptr));
    EXPECT_EQ(Strings(list), (std::vector<std::string>{"b@x.test", "a@y.test", "B@x.test"}));
    ASSERT_EQ(r.Log.size(), 5u);
    EXPECT_EQ(r.LogSender, &r.Client);
    EXPECT_EQ(r.Log[0], (TLogLine{llInfo, 2, "Connecting to "}));
    EXPECT_EQ(r.Log[1], (TLogLine{llWarning, 5, "Unable to send messages via : No host name given"}));
    EXPECT_EQ(r.Log[2], (TLogLine{llInfo, 2, std::string("Connecting to ") + kRefusingHost}));
    const std::string refused = std::string("Unable to send messages via ") + kRefusingHost +
                                ": Socket Error # 10061\r\n";
    EXPECT_EQ(r.Log[3].Level, llWarning);
    EXPECT_EQ(r.Log[3].Code, 5);
    EXPECT_EQ(r.Log[3].Text.substr(0, refused.size()), refused);
    EXPECT_EQ(r.Log[4], (TLogLine{llError, 6, "Send via all hosts failed."}));
    ASSERT_EQ(r.Failed.size(), 1u);
    EXPECT_EQ(r.Failed[0], (std::vector<std::string>{"a@y.test", "b@x.test", "bad"}));
}

TEST(SMTPClient, AnExceptionOfALogHandlerOutsideAttemptsLeavesSend) {
    TRecordedClient r;
    r.Client.TransportType = smtDirect;
    r.Client.OnLog = [](TObject*, TBWLogLevel, int code, const std::string&) {
        if (code == 1)
            throw Exception("handler failed");
    };
    TStringList list = Recipients({"a@x.test", "bad"});
    EXPECT_THROW(r.Client.Send("f@x.test", list, "s", "b", nullptr), Exception);
    EXPECT_EQ(Strings(list), std::vector<std::string>{"a@x.test"});  // deletion stays
    EXPECT_TRUE(r.Failed.empty());
}

TEST(SMTPClient, TransportSetsWhereHostsComeFrom) {
    TBWSMTPClient client;
    TStringList hosts;
    client.TransportType = static_cast<TBWSMTPTransport>(7);
    hosts.Add("x");
    client.GetMailHosts("d.test", hosts);
    EXPECT_EQ(hosts.Count(), 0);
    client.TransportType = smtHost;
    client.PrimaryHost = "relay.test";
    client.GetMailHosts("d.test", hosts);
    EXPECT_EQ(Strings(hosts), std::vector<std::string>{"relay.test"});
    EXPECT_EQ(client.GetDNSClient(), client.GetDNSClient());
}
