// Internet messages as bytes (RFC 5322, MIME RFC 2045-2047) and their SMTP
// DATA form (RFC 5321 4.5.2). Pure byte-in/result-out code without windows.h,
// so it also builds for the host.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace bwmime {

struct TMimeAttachment {
    std::string FileName;  // name only, no folder
    std::string Content;   // the file's bytes
};

struct TMimeMessage {
    std::string From;
    std::vector<std::string> To;
    std::string Subject;
    std::string Body;
    std::vector<TMimeAttachment> Attachments;
    // Pre-formatted by the caller, who knows the clock and the host:
    std::string Date;       // FormatDate's text
    std::string MessageId;  // "<unique@host>"
    std::string Charset;    // of Subject, Body and file names when not ASCII
    // Of a double-byte charset: whether a byte starts a two-byte character.
    // Empty for single-byte charsets; UTF-8 is known by its name.
    std::function<bool(unsigned char)> IsLeadByte;
    std::string Boundary;   // multipart boundary seed; made unique below
};

// The MIME charset name of a Windows ANSI code page.
std::string CharsetName(unsigned codePage);

// "Wed, 09 Dec 2026 05:14:05 +0100". dayOfWeek 0 = Sunday; the offset is
// local time minus UTC in minutes.
std::string FormatDate(int year, int month, int day, int dayOfWeek, int hour, int minute,
                       int second, int utcOffsetMinutes);

// Every CR LF, bare CR and bare LF becomes CR LF.
std::string NormalizeLineBreaks(const std::string& text);

std::string EncodeBase64(const std::string& data);
// Base64 in lines of 76 characters, each ending in CR LF.
std::string EncodeBase64Lines(const std::string& data);
// Quoted-printable (RFC 2045 6.7) of text whose lines end in CR LF; the
// result keeps those line breaks and stays within 76 characters a line.
std::string EncodeQuotedPrintable(const std::string& text);

// A header value: as it stands when it is printable ASCII, else (or when
// longer than fits on a line) RFC 2047 encoded words in the charset, folded.
// Line breaks inside the value never reach the header as line breaks. An
// encoded word never ends inside a character: UTF-8 sequences and, with
// isLeadByte, double-byte characters stay whole (RFC 2047 5).
std::string EncodeHeaderText(const std::string& text, const std::string& charset,
                             const std::function<bool(unsigned char)>& isLeadByte = {});

// The whole message with CR LF line ends and no bare CR or LF: headers Date,
// From, To, Subject, Message-ID, MIME-Version, then the body as text/plain,
// or multipart/mixed with one base64 part per attachment when there are any.
// The To header is folded between addresses; no line passes 998 characters
// as long as every address fits a path (bwsmtp::kMaxAddressLength).
std::string BuildMessage(const TMimeMessage& message);

// The message as sent after DATA: a "." at the start of any line, the first
// included, is doubled, and the closing "." line is added. Expects CR LF
// line ends (BuildMessage's output).
std::string DotStuff(const std::string& message);

}  // namespace bwmime
