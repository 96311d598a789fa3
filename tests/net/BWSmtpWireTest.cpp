#include <gtest/gtest.h>

#include <string>

#include "net/BWMimeMessage.h"
#include "net/BWSmtpWire.h"

using bwsmtp::TReadStatus;
using bwsmtp::TSmtpReply;
using bwsmtp::TSmtpReplyReader;

namespace {

TReadStatus Feed(TSmtpReplyReader& reader, const std::string& bytes, TSmtpReply& reply,
                 std::string& error) {
    reader.Append(bytes.data(), bytes.size());
    return reader.Take(reply, error);
}

}  // namespace

TEST(SmtpReplyReader, MultiLineReplyArrivingInPieces) {
    TSmtpReplyReader reader;
    TSmtpReply reply;
    std::string error;
    const std::string text = "250-mail.test greets you\r\n250-PIPELINING\r\n250 8BITMIME\r\n";
    // Byte by byte: no reply until the last line end.
    for (std::size_t i = 0; i + 1 < text.size(); ++i)
        ASSERT_EQ(Feed(reader, text.substr(i, 1), reply, error), TReadStatus::NeedMore) << i;
    ASSERT_EQ(Feed(reader, text.substr(text.size() - 1), reply, error), TReadStatus::Reply);
    EXPECT_EQ(reply.Code, 250);
    ASSERT_EQ(reply.Lines.size(), 3u);
    EXPECT_EQ(reply.Lines[0], "mail.test greets you");
    EXPECT_EQ(reply.Lines[2], "8BITMIME");
    EXPECT_EQ(reply.Text(), "250 mail.test greets you PIPELINING 8BITMIME");
}

TEST(SmtpReplyReader, TwoRepliesInOneReadAndToleratedForms) {
    TSmtpReplyReader reader;
    TSmtpReply reply;
    std::string error;
    // A bare code, a bare LF line end, then a second reply in the same bytes.
    ASSERT_EQ(Feed(reader, "354\n221 2.0.0 bye\r\n", reply, error), TReadStatus::Reply);
    EXPECT_EQ(reply.Code, 354);
    EXPECT_EQ(reply.Lines, std::vector<std::string>{""});
    ASSERT_EQ(reader.Take(reply, error), TReadStatus::Reply);
    EXPECT_EQ(reply.Code, 221);
    EXPECT_EQ(reader.Take(reply, error), TReadStatus::NeedMore);
    EXPECT_FALSE(reader.HasPartialReply());
}

TEST(SmtpReplyReader, MalformedRepliesFailAndStayFailed) {
    const char* const bad[] = {
        "hello\r\n",               // not numeric
        "25\r\n",                  // too short
        "2x0 ok\r\n",              // digit missing
        "199 too low\r\n",         // outside 2xx-5xx
        "600 too high\r\n",        // outside 2xx-5xx
        "250_ok\r\n",              // bad separator
        "250-one\r\n251 two\r\n",  // codes differ
        "\r\n",                    // empty line
    };
    for (const char* text : bad) {
        TSmtpReplyReader reader;
        TSmtpReply reply;
        reply.Code = 7;
        std::string error;
        EXPECT_EQ(Feed(reader, text, reply, error), TReadStatus::Error) << text;
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(reply.Code, 7) << "reply touched on failure";
        EXPECT_EQ(Feed(reader, "250 ok\r\n", reply, error), TReadStatus::Error) << "sticky";
    }
}

TEST(SmtpReplyReader, OverLongLinesAndRepliesFail) {
    TSmtpReplyReader reader;
    TSmtpReply reply;
    std::string error;
    std::string longLine = "250 " + std::string(TSmtpReplyReader::kMaxLineLength, 'x') + "\r\n";
    EXPECT_EQ(Feed(reader, longLine, reply, error), TReadStatus::Error);

    // No line end ever: fails once past the line limit, before it ends.
    TSmtpReplyReader endless;
    TReadStatus status = TReadStatus::NeedMore;
    for (int i = 0; i < 100 && status == TReadStatus::NeedMore; ++i)
        status = Feed(endless, std::string(1000, '2'), reply, error);
    EXPECT_EQ(status, TReadStatus::Error);

    TSmtpReplyReader many;
    std::string lines;
    for (std::size_t i = 0; i <= TSmtpReplyReader::kMaxLines; ++i)
        lines += "250-x\r\n";
    EXPECT_EQ(Feed(many, lines, reply, error), TReadStatus::Error);
}

TEST(SmtpReplyReader, CutMidLineIsAPartialReply) {
    TSmtpReplyReader reader;
    TSmtpReply reply;
    std::string error;
    EXPECT_EQ(Feed(reader, "250-first\r\n250 sec", reply, error), TReadStatus::NeedMore);
    EXPECT_TRUE(reader.HasPartialReply());
    TSmtpReplyReader other;
    EXPECT_EQ(Feed(other, "250-first\r\n", reply, error), TReadStatus::NeedMore);
    EXPECT_TRUE(other.HasPartialReply());
}

TEST(SmtpWire, HeloNameIsAFullyQualifiedNameOrOurAddressLiteral) {
    EXPECT_EQ(bwsmtp::HeloName("server1.corp.example", "192.0.2.10", false), "server1.corp.example");
    EXPECT_EQ(bwsmtp::HeloName("SERVER1", "192.0.2.10", false), "[192.0.2.10]");
    EXPECT_EQ(bwsmtp::HeloName("bad_name.corp", "192.0.2.10", false), "[192.0.2.10]");
    EXPECT_EQ(bwsmtp::HeloName("", "2001:db8::1", true), "[IPv6:2001:db8::1]");
}

TEST(MimeMessage, EncodedWordsNeverSplitACharacter) {
    // After "a", a word's 39 (UTF-8) or 36 (Shift_JIS) bytes would end
    // inside a three-byte euro sign or a two-byte kana.
    std::string euros, kana;
    for (int i = 0; i < 50; ++i)
        euros += "\xe2\x82\xac", kana += "\x82\xa0";
    auto lead = [](unsigned char c) { return (c >= 0x81 && c <= 0x9f) || (c >= 0xe0 && c <= 0xfc); };
    auto word = [](const std::string& cs, const std::string& part) {
        return "=?" + cs + "?B?" + bwmime::EncodeBase64(part) + "?=";
    };
    EXPECT_EQ(bwmime::EncodeHeaderText("a" + euros.substr(0, 75), "utf-8"),
              word("utf-8", "a" + euros.substr(0, 36)) + "\r\n " + word("utf-8", euros.substr(36, 39)));
    EXPECT_EQ(bwmime::CharsetName(932) + bwmime::CharsetName(65001) + bwmime::CharsetName(1252),
              "shift_jisutf-8windows-1252");
    EXPECT_EQ(bwmime::EncodeHeaderText("a" + kana.substr(0, 70), "shift_jis", lead),
              word("shift_jis", "a" + kana.substr(0, 34)) + "\r\n " + word("shift_jis", kana.substr(34, 36)));
}

TEST(MimeMessage, LineBreaksBecomeCrLfAndDotsAreStuffed) {
    EXPECT_EQ(bwmime::NormalizeLineBreaks("a\nb\rc\r\nd\n\r\ne\r"), "a\r\nb\r\nc\r\nd\r\n\r\ne\r\n");
    EXPECT_EQ(bwmime::DotStuff(".first\r\nx.y\r\n.\r\n..two\r\n"),
              "..first\r\nx.y\r\n..\r\n...two\r\n.\r\n");
    EXPECT_EQ(bwmime::DotStuff("no line end"), "no line end\r\n.\r\n");
    EXPECT_EQ(bwmime::DotStuff(""), ".\r\n");
}

TEST(MimeMessage, Base64AndQuotedPrintable) {
    EXPECT_EQ(bwmime::EncodeBase64(""), "");
    EXPECT_EQ(bwmime::EncodeBase64("f"), "Zg==");
    EXPECT_EQ(bwmime::EncodeBase64("fo"), "Zm8=");
    EXPECT_EQ(bwmime::EncodeBase64("foobar"), "Zm9vYmFy");
    EXPECT_EQ(bwmime::EncodeBase64(std::string("\xff\x00\xfe", 3)), "/wD+");
    std::string lines = bwmime::EncodeBase64Lines(std::string(100, 'a'));
    EXPECT_EQ(lines.find("\r\n"), 76u);
    EXPECT_EQ(lines.substr(lines.size() - 2), "\r\n");

    EXPECT_EQ(bwmime::EncodeQuotedPrintable("caf\xe9 = ok \r\nend\t"), "caf=E9 =3D ok=20\r\nend=09");
    std::string qp = bwmime::EncodeQuotedPrintable(std::string(200, 'x'));
    for (std::size_t start = 0, end; start < qp.size(); start = end + 2) {
        end = qp.find("\r\n", start);
        if (end == std::string::npos)
            end = qp.size();
        EXPECT_LE(end - start, 76u);
    }
}

TEST(MimeMessage, PlainMessageHasHeadersAndNoBareLineBreaks) {
    bwmime::TMimeMessage m;
    m.From = "monitor@example.test";
    m.To = {"a@example.test", "b@example.test"};
    m.Subject = "[Tarnwick] Service stopped";
    m.Body = "line one\n.dot line\r\nlast";
    m.Date = bwmime::FormatDate(2026, 12, 9, 3, 5, 4, 3, 60);
    m.MessageId = "<1.2@host>";
    std::string text = bwmime::BuildMessage(m);
    EXPECT_EQ(text,
              "Date: Wed, 09 Dec 2026 05:04:03 +0100\r\n"
              "From: monitor@example.test\r\n"
              "To: a@example.test, b@example.test\r\n"
              "Subject: [Tarnwick] Service stopped\r\n"
              "Message-ID: <1.2@host>\r\n"
              "MIME-Version: 1.0\r\n"
              "Content-Type: text/plain; charset=us-ascii\r\n"
              "Content-Transfer-Encoding: 7bit\r\n"
              "\r\n"
              "line one\r\n.dot line\r\nlast\r\n");
    EXPECT_EQ(bwmime::FormatDate(2026, 1, 2, 0, 0, 0, 0, -330).substr(26), "-0530");
}

TEST(MimeMessage, EightBitTextAndLongToAreEncodedAndFolded) {
    bwmime::TMimeMessage m;
    m.From = "f@x.test";
    for (int i = 0; i < 10; ++i)
        m.To.push_back("recipient" + std::to_string(i) + "@example.test");
    m.Subject = "Dienst \xfc" "berwacht";
    m.Body = "Gr\xfc\xdf" "e";
    m.Charset = "windows-1252";
    std::string text = bwmime::BuildMessage(m);
    EXPECT_NE(text.find("Subject: =?windows-1252?B?RGllbnN0IPxiZXJ3YWNodA==?=\r\n"),
              std::string::npos);
    EXPECT_NE(text.find("charset=windows-1252\r\nContent-Transfer-Encoding: quoted-printable\r\n"
                        "\r\nGr=FC=DFe\r\n"),
              std::string::npos);
    EXPECT_NE(text.find(",\r\n recipient"), std::string::npos);
    for (std::size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos;
         start = end + 2)
        EXPECT_LE(end - start, 78u);
    for (std::size_t i = 0; i < text.size(); ++i)
        EXPECT_LE(static_cast<unsigned char>(text[i]), 0x7e) << i;
    // A line break inside the subject cannot start a header of its own.
    m.Subject = "x\r\nBcc: someone@else.test";
    EXPECT_EQ(bwmime::BuildMessage(m).find("\r\nBcc:"), std::string::npos);
}

TEST(MimeMessage, AttachmentsMakeMultipartWithBase64Parts) {
    bwmime::TMimeMessage m;
    m.From = "f@x.test";
    m.To = {"t@x.test"};
    m.Subject = "s";
    m.Body = "--=_B\r\nbody";  // holds the first boundary candidate
    m.Boundary = "B";
    m.Attachments = {{"data.bin", std::string("\x00\x01\xff", 3)}, {"n\xe4me \"q\".txt", "hi"}};
    std::string text = bwmime::BuildMessage(m);
    EXPECT_NE(text.find("Content-Type: multipart/mixed; boundary=\"=_B_1\"\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\n--=_B_1\r\nContent-Type: text/plain"), std::string::npos);
    EXPECT_NE(text.find("Content-Type: application/octet-stream; name=\"data.bin\"\r\n"
                        "Content-Transfer-Encoding: base64\r\n"
                        "Content-Disposition: attachment; filename=\"data.bin\"\r\n\r\nAAH/\r\n"),
              std::string::npos);
    EXPECT_NE(text.find("filename*=windows-1252''n%E4me%20%22q%22.txt"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 13), "\r\n--=_B_1--\r\n");
}
