// Our small SMTP and DNS library over Winsock: what the mail client needs of
// one, and nothing more. Failures are raised as exceptions derived from
// Exception, carrying a message text. No windows.h here.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "net/BWDnsWire.h"
#include "rtl/SysUtils.h"

// A network, protocol or local failure of an SMTP attempt.
class EBWSMTPError : public Exception {
public:
    using Exception::Exception;
};

// Every recipient of a transaction was refused at RCPT; the connection's
// RefusedRecipients lists them with the server's replies.
class EBWSMTPRecipientsRefused : public EBWSMTPError {
public:
    using EBWSMTPError::EBWSMTPError;
};

// A failed DNS query: no reply, an error reply, a malformed reply.
class EBWDNSError : public Exception {
public:
    using Exception::Exception;
};

// Time-outs of one SMTP connection in milliseconds. The reply waits follow
// RFC 5321 4.5.3.2; each is the whole wait for one reply, so a peer that
// drips bytes cannot stretch it. Tests shorten them.
struct TBWSMTPTimeouts {
    int Greeting = 5 * 60 * 1000;       // the 220 banner
    int Command = 5 * 60 * 1000;        // EHLO, HELO, MAIL, RCPT, RSET, QUIT
    int DataInitiation = 2 * 60 * 1000;  // the 354 after DATA
    int DataBlock = 3 * 60 * 1000;      // each block of the message written
    int DataTermination = 10 * 60 * 1000;  // the reply after the closing "."
    int Quit = 5 * 1000;                // the courtesy wait for 221 at the end
};

// The message of one send: sender, subject, plain-text body, recipients and
// attachments by file path (read when the message is sent).
class TBWMailMessage {
public:
    std::string From;
    std::string Subject;
    std::string Body;

    void ClearRecipients() { FRecipients.clear(); }
    void AddRecipient(const std::string& address) { FRecipients.push_back(address); }
    const std::vector<std::string>& Recipients() const { return FRecipients; }
    void AddAttachment(const std::string& path) { FAttachments.push_back(path); }
    const std::vector<std::string>& Attachments() const { return FAttachments; }

private:
    std::vector<std::string> FRecipients;
    std::vector<std::string> FAttachments;
};

// A recipient the server refused with RCPT, and its reply.
struct TBWRefusedRecipient {
    std::string Address;
    std::string Reply;
};

// Checks what a transaction needs before any server is asked: a sender and
// recipients that fit a command line and a path, at least one recipient.
// Raises EBWSMTPError naming the first fault.
void CheckEnvelope(const std::string& from, const std::vector<std::string>& recipients);

// The bytes sent after DATA (dot-stuffed, with the closing "."): headers
// with To made of the message's recipients, the body, the attachments read
// from their files now. Built once per message, so that every host that
// gets a share of the recipients gets the same message and Message-ID.
// Raises EBWSMTPError when an attachment cannot be read.
std::string BuildMailData(const TBWMailMessage& message);

// One SMTP session with one host: Connect reads the greeting and introduces
// us (EHLO, HELO when EHLO is refused); Send runs one mail transaction;
// Disconnect says QUIT. A session that was opened ends with QUIT whatever
// happens (RFC 5321 4.1.1.10): after a refusal, a time-out or a malformed
// reply, and when a connected object is destroyed; only a connection the
// peer broke is closed without it. Port 25, no authentication.
class TBWSMTPConnection {
public:
    TBWSMTPConnection();
    ~TBWSMTPConnection();
    TBWSMTPConnection(const TBWSMTPConnection&) = delete;
    TBWSMTPConnection& operator=(const TBWSMTPConnection&) = delete;

    std::string Host;
    unsigned short Port = 25;
    TBWSMTPTimeouts Timeouts;

    void Connect(int timeoutMs);
    // One transaction: MAIL FROM from, RCPT TO for each of envelope, then
    // data (BuildMailData's). Raises when nothing was delivered by this host;
    // EBWSMTPRecipientsRefused when every recipient was refused, with
    // RefusedRecipients listing them. On return the message went to every
    // recipient not in RefusedRecipients.
    void Send(const std::string& from, const std::vector<std::string>& envelope,
              const std::string& data);
    const std::vector<TBWRefusedRecipient>& RefusedRecipients() const { return FRefused; }
    // QUIT and close. The message is delivered once the server has answered
    // the closing "." (RFC 5321 4.1.1.4), so a peer that fumbles the QUIT
    // changes nothing and raises nothing.
    void Disconnect();
    bool Connected() const;

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
    std::vector<TBWRefusedRecipient> FRefused;
};

// One DNS query over UDP: Active opens the socket, Resolve sends one query
// and waits for its answer, Deactivate closes. Replies that do not belong to
// the query (another id, another question, garbage) are ignored while the
// receive time-out runs; then the query fails.
class TBWDNSResolver {
public:
    TBWDNSResolver();
    ~TBWDNSResolver();
    TBWDNSResolver(const TBWDNSResolver&) = delete;
    TBWDNSResolver& operator=(const TBWDNSResolver&) = delete;

    std::string Host;
    unsigned short Port = 53;
    bool RecursionDesired = true;
    int ReceiveTimeout = 10000;
    std::uint16_t QueryType = bwdns::kTypeMX;

    void Activate();
    // The answer records of the reply. Raises EBWDNSError for no reply, an
    // error reply (RCODE other than 0) or a truncated reply.
    std::vector<bwdns::TDnsRecord> Resolve(const std::string& name);
    void Deactivate();

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
};
