#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "net/BWDnsWire.h"

using bwdns::ParseReply;
using bwdns::TDnsReply;
using Bytes = std::vector<std::uint8_t>;

namespace {

// A good reply to "example.test MX", id 0x1234: two MX answers using
// compression pointers to the question's name (offset 12), and an A record.
Bytes GoodReply() {
    return {
        0x12, 0x34,  // id
        0x81, 0x80,  // QR, RD, RA; RCODE 0
        0x00, 0x01, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00,  // QD 1, AN 3
        // question at 12: example.test MX IN
        7, 'e', 'x', 'a', 'm', 'p', 'l', 'e', 4, 't', 'e', 's', 't', 0,  // 12..25
        0x00, 0x0F, 0x00, 0x01,                                          // 26..29
        // answer 1 at 30: name -> 12, MX, IN, TTL 60, rdlength 9, pref 20, "mx2" + ptr 12
        0xC0, 0x0C, 0x00, 0x0F, 0x00, 0x01, 0x00, 0x00, 0x00, 0x3C, 0x00, 0x08,
        0x00, 0x14, 3, 'm', 'x', '2', 0xC0, 0x0C,
        // answer 2: an A record, skipped by MX users but returned
        0xC0, 0x0C, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x3C, 0x00, 0x04,
        127, 0, 0, 1,
        // answer 3: pref 10, "mx1" + ptr 12
        0xC0, 0x0C, 0x00, 0x0F, 0x00, 0x01, 0x00, 0x00, 0x00, 0x3C, 0x00, 0x08,
        0x00, 0x0A, 3, 'm', 'x', '1', 0xC0, 0x0C,
    };
}

bool Parse(const Bytes& b, TDnsReply& reply, std::string& error) {
    return ParseReply(b.data(), b.size(), 0x1234, "example.test", bwdns::kTypeMX, reply, error);
}

void ExpectFailure(const Bytes& b, const char* why) {
    TDnsReply reply;
    reply.RCode = 9;
    std::string error;
    EXPECT_FALSE(Parse(b, reply, error)) << why;
    EXPECT_FALSE(error.empty()) << why;
    EXPECT_TRUE(reply.Answers.empty()) << why;
    EXPECT_EQ(reply.RCode, 0) << why;  // outputs left empty
}

}  // namespace

TEST(DnsWire, QueryHasHeaderLabelsTypeAndClass) {
    Bytes q;
    std::string error;
    ASSERT_TRUE(bwdns::BuildQuery(0xBEEF, "Mail.Example.test.", bwdns::kTypeMX, true, q, error));
    Bytes expected = {0xBE, 0xEF, 0x01, 0x00, 0, 1, 0, 0, 0, 0, 0, 0,
                      4,    'M',  'a',  'i',  'l', 7, 'E', 'x', 'a', 'm', 'p', 'l', 'e',
                      4,    't',  'e',  's',  't', 0, 0,   15,  0,   1};
    EXPECT_EQ(q, expected);
    ASSERT_TRUE(bwdns::BuildQuery(1, "x", bwdns::kTypeMX, false, q, error));
    EXPECT_EQ(q[2], 0x00);  // recursion not desired
}

TEST(DnsWire, QueryRefusesNamesThatCannotBeEncoded) {
    Bytes q = {1};
    std::string error;
    for (const std::string& bad : {std::string(), std::string("."), std::string("a..b"),
                                   std::string(".a"), std::string(64, 'a') + ".test"}) {
        EXPECT_FALSE(bwdns::BuildQuery(1, bad, bwdns::kTypeMX, true, q, error)) << bad;
        EXPECT_TRUE(q.empty());
    }
    std::string longName;
    for (int i = 0; i < 5; ++i)
        longName += std::string(60, 'a') + ".";
    EXPECT_FALSE(bwdns::BuildQuery(1, longName, bwdns::kTypeMX, true, q, error));
    EXPECT_TRUE(bwdns::BuildQuery(1, std::string(63, 'a'), bwdns::kTypeMX, true, q, error));
}

TEST(DnsWire, GoodReplyGivesRecordsInOrder) {
    TDnsReply reply;
    std::string error;
    ASSERT_TRUE(Parse(GoodReply(), reply, error)) << error;
    ASSERT_EQ(reply.Answers.size(), 3u);
    EXPECT_EQ(reply.Answers[0].Type, bwdns::kTypeMX);
    EXPECT_EQ(reply.Answers[0].Preference, 20);
    EXPECT_EQ(reply.Answers[0].Exchange, "mx2.example.test");
    EXPECT_EQ(reply.Answers[0].Name, "example.test");
    EXPECT_EQ(reply.Answers[0].TTL, 60u);
    EXPECT_EQ(reply.Answers[1].Type, bwdns::kTypeA);
    EXPECT_EQ(reply.Answers[2].Exchange, "mx1.example.test");
    EXPECT_EQ(reply.Answers[2].Preference, 10);
    EXPECT_TRUE(reply.RecursionAvailable);
    // The question is matched without regard to case.
    EXPECT_TRUE(ParseReply(GoodReply().data(), GoodReply().size(), 0x1234, "EXAMPLE.Test.",
                           bwdns::kTypeMX, reply, error));
}

TEST(DnsWire, EveryTruncationFailsCleanly) {
    Bytes good = GoodReply();
    for (std::size_t n = 0; n < good.size(); ++n) {
        Bytes cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n));
        ExpectFailure(cut, ("cut at " + std::to_string(n)).c_str());
    }
    TDnsReply reply;
    std::string error;
    EXPECT_FALSE(ParseReply(nullptr, 0, 0x1234, "example.test", bwdns::kTypeMX, reply, error));
}

TEST(DnsWire, HeaderFaultsAreRefused) {
    Bytes b = GoodReply();
    b[1] = 0x35;
    ExpectFailure(b, "wrong id");
    b = GoodReply();
    b[2] = 0x01;
    ExpectFailure(b, "a query, not a response");
    b = GoodReply();
    b[2] = 0x81 | (2 << 3);
    ExpectFailure(b, "opcode STATUS");
    b = GoodReply();
    b[7] = 4;
    ExpectFailure(b, "answer count larger than the packet");
    b = GoodReply();
    b[6] = 0xFF;
    b[7] = 0xFF;
    ExpectFailure(b, "answer count 65535");
    b = GoodReply();
    b[5] = 2;
    ExpectFailure(b, "two questions");
    b = GoodReply();
    b[5] = 0;
    ExpectFailure(b, "no question in a good reply");
}

TEST(DnsWire, ReplyToAnotherQuestionIsRefused) {
    Bytes b = GoodReply();
    b[13] = 'X';  // "xxample"
    ExpectFailure(b, "other name");
    b = GoodReply();
    b[27] = 1;  // type A
    ExpectFailure(b, "other type");
    b = GoodReply();
    b[29] = 3;  // class CH
    ExpectFailure(b, "other class");
}

TEST(DnsWire, BadCompressionPointersAreRefused) {
    Bytes b = GoodReply();
    b[31] = 30;  // answer name points at itself
    ExpectFailure(b, "pointer to itself");
    b = GoodReply();
    b[31] = 0xF0;  // forward, past the packet's end
    ExpectFailure(b, "pointer outside the packet");
    b = GoodReply();
    b[30] = 0xFF;  // 0x3FFF
    b[31] = 0xFF;
    ExpectFailure(b, "pointer far outside");
    b = GoodReply();
    b[31] = 40;  // forward into the packet (the record's own rdata)
    ExpectFailure(b, "pointer forwards");

    // Two names pointing at each other: the exchanger of answer 1 points to
    // answer 3's exchanger, which points back.
    b = GoodReply();
    std::size_t ex1 = 44, ex3 = 44 + 20 + 16;  // "mx2" and "mx1" label starts
    ASSERT_EQ(b[ex1 + 1], 'm');
    ASSERT_EQ(b[ex3 + 1], 'm');
    b[ex1 + 4] = 0xC0;
    b[ex1 + 5] = static_cast<std::uint8_t>(ex3);
    b[ex3 + 4] = 0xC0;
    b[ex3 + 5] = static_cast<std::uint8_t>(ex1);
    ExpectFailure(b, "pointer loop");

    b = GoodReply();
    b[ex1] = 0x40;  // extended label type
    ExpectFailure(b, "label type 01");
    b = GoodReply();
    b[ex1] = 0x3F;  // label longer than what is left
    ExpectFailure(b, "label past the end");
}

TEST(DnsWire, RecordDataFaultsAreRefused) {
    Bytes b = GoodReply();
    b[41] = 9;  // MX rdlength one more than its name
    ExpectFailure(b, "MX rdlength too long");
    b = GoodReply();
    b[41] = 2;
    ExpectFailure(b, "MX rdlength shorter than its data");
    b = GoodReply();
    b[41] = 0xFF;
    ExpectFailure(b, "rdlength past the packet");
}

TEST(DnsWire, OddBytesInNamesAreEscaped) {
    Bytes b = GoodReply();
    b[45] = '.';  // "m.2" as one label
    b[46] = 0x01;
    TDnsReply reply;
    std::string error;
    ASSERT_TRUE(Parse(b, reply, error)) << error;
    EXPECT_EQ(reply.Answers[0].Exchange, "\\.\\0012.example.test");
}

TEST(DnsWire, ErrorReplyParsesWithItsCode) {
    Bytes b = GoodReply();
    b[3] = 0x83;  // NXDOMAIN
    b[7] = 0;
    b.resize(30);
    TDnsReply reply;
    std::string error;
    ASSERT_TRUE(Parse(b, reply, error)) << error;
    EXPECT_EQ(reply.RCode, 3);
    EXPECT_TRUE(reply.Answers.empty());
    // Without the question, as some servers answer a malformed query.
    b.resize(12);
    b[5] = 0;
    ASSERT_TRUE(Parse(b, reply, error)) << error;
    EXPECT_EQ(reply.RCode, 3);
}

TEST(DnsWire, LongestNameIsAcceptedOneMoreIsNot) {
    // A reply whose MX exchanger is made of labels summing to 255 bytes on
    // the wire, then one that is 257.
    auto make = [](int labels63, int lastLabel) {
        Bytes b = {0x12, 0x34, 0x81, 0x80, 0, 1, 0, 1, 0, 0, 0, 0,
                   7,    'e',  'x',  'a',  'm', 'p', 'l', 'e', 4, 't', 'e', 's', 't', 0, 0, 15, 0, 1,
                   0xC0, 0x0C, 0,    15,   0,   1,   0,   0,   0, 60};
        Bytes name;
        for (int i = 0; i < labels63; ++i) {
            name.push_back(63);
            name.insert(name.end(), 63, 'a');
        }
        name.push_back(static_cast<std::uint8_t>(lastLabel));
        name.insert(name.end(), static_cast<std::size_t>(lastLabel), 'b');
        name.push_back(0);
        std::size_t rdlength = 2 + name.size();
        b.push_back(static_cast<std::uint8_t>(rdlength >> 8));
        b.push_back(static_cast<std::uint8_t>(rdlength & 0xFF));
        b.push_back(0);
        b.push_back(5);
        b.insert(b.end(), name.begin(), name.end());
        return b;
    };
    TDnsReply reply;
    std::string error;
    EXPECT_TRUE(Parse(make(3, 61), reply, error)) << error;  // 3*64 + 62 + 1 = 255
    EXPECT_FALSE(Parse(make(3, 63), reply, error));          // 257
}
