// SMTP replies as bytes (RFC 5321 4.2): an incremental reader of one reply
// at a time, multi-line replies included. Pure byte-in/result-out code
// without sockets or windows.h, so it also builds for the host and is fuzzed.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace bwsmtp {

struct TSmtpReply {
    int Code = 0;
    // The text of each line after the code and its separator.
    std::vector<std::string> Lines;

    // "250 first line second line": the code and the lines joined by blanks,
    // as used in error messages.
    std::string Text() const;
};

enum class TReadStatus { NeedMore, Reply, Error };

// Feed bytes as they arrive with Append, then call Take until it answers
// NeedMore. Lines end with CR LF; a bare LF is tolerated as a line end (some
// servers send it), a CR elsewhere is kept as text. Any fault is final: an
// over-long line or reply, a line without a three-digit code from 200 to 599,
// a bad separator after the code, a continuation line with another code.
class TSmtpReplyReader {
public:
    // RFC 5321 allows 512 bytes a reply line; real servers stay well below
    // these limits, which only bound what a hostile peer can make us hold.
    static constexpr std::size_t kMaxLineLength = 4096;
    static constexpr std::size_t kMaxLines = 200;

    void Append(const char* data, std::size_t size);
    // Reply: one whole reply taken into reply. Error: error set, also for all
    // later calls. NeedMore: reply untouched.
    TReadStatus Take(TSmtpReply& reply, std::string& error);
    // The peer closed the connection: an error when part of a reply is held.
    bool HasPartialReply() const { return !FBuffer.empty() || !FPending.Lines.empty(); }
    void Reset();

private:
    std::string FBuffer;
    TSmtpReply FPending;
    std::string FError;
};

// Whether the text is safe to put into one command line: no CR, LF or NUL.
bool IsCommandSafe(const std::string& text);

// The longest address that fits a path: RFC 5321 4.5.3.1.3 allows 256
// octets for "<" address ">".
constexpr std::size_t kMaxAddressLength = 254;

// Letters, digits, hyphens and dots, at most 253 characters, not starting
// with a dot or hyphen and not ending with a dot.
bool IsHostName(const std::string& name);

// The name we give in EHLO and HELO (RFC 5321 4.1.1.1, 4.1.4, 2.3.5): the
// fully qualified domain name when it is a host name with a dot, else the
// address literal of our end of the connection ("[192.0.2.10]",
// "[IPv6:2001:db8::1]"). Strict servers refuse a bare workgroup name.
std::string HeloName(const std::string& fqdn, const std::string& localAddress, bool ipv6);

}  // namespace bwsmtp
