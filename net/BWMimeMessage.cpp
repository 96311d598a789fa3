#include "BWMimeMessage.h"

#include <cstdio>

namespace bwmime {

namespace {

const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const char kHex[] = "0123456789ABCDEF";
// RFC 5322 2.1.1: a line must not exceed 998 characters without its CR LF.
constexpr std::size_t kMaxLine = 998;
constexpr std::size_t kFoldAt = 76;

bool IsPrintableAscii(unsigned char c) {
    return c >= 0x20 && c <= 0x7e;
}

bool IsPlainHeaderText(const std::string& text) {
    for (unsigned char c : text)
        if (!IsPrintableAscii(c))
            return false;
    return true;
}

// Text that may go out as 7bit: printable ASCII and tabs, CR LF line breaks
// only, no line over the limit.
bool IsSevenBitText(const std::string& text) {
    std::size_t lineLength = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            ++i;
            lineLength = 0;
            continue;
        }
        if (!IsPrintableAscii(c) && c != '\t')
            return false;
        if (++lineLength > kMaxLine)
            return false;
    }
    return true;
}

std::string CharsetOrDefault(const std::string& charset) {
    return charset.empty() ? std::string("windows-1252") : charset;
}

// RFC 2231 extended parameter: name*=charset''percent-encoded.
std::string FileNameParameter(const std::string& param, const std::string& fileName,
                              const std::string& charset) {
    bool plain = IsPlainHeaderText(fileName) && fileName.find('"') == std::string::npos &&
                 fileName.find('\\') == std::string::npos && fileName.size() < 900;
    if (plain)
        return param + "=\"" + fileName + "\"";
    std::string value = param + "*=" + CharsetOrDefault(charset) + "''";
    for (unsigned char c : fileName) {
        bool safe = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                    c == '.' || c == '-' || c == '_';
        if (safe) {
            value += static_cast<char>(c);
        } else {
            value += '%';
            value += kHex[c >> 4];
            value += kHex[c & 0x0F];
        }
    }
    return value;
}

// Joins addresses, folding before an address that would pass the fold width.
std::string AddressList(const std::string& headerName, const std::vector<std::string>& list) {
    std::string out = headerName + ": ";
    std::size_t lineLength = out.size();
    for (std::size_t i = 0; i < list.size(); ++i) {
        std::string item = list[i] + (i + 1 < list.size() ? "," : "");
        if (i > 0) {
            if (lineLength + 1 + item.size() > kFoldAt) {
                out += "\r\n ";
                lineLength = 1;
            } else {
                out += ' ';
                ++lineLength;
            }
        }
        out += item;
        lineLength += item.size();
    }
    return out + "\r\n";
}

std::string TextPart(const std::string& body, const std::string& charset, bool withBlankLine) {
    std::string text = NormalizeLineBreaks(body);
    std::string out;
    if (IsSevenBitText(text)) {
        out += "Content-Type: text/plain; charset=us-ascii\r\n";
        out += "Content-Transfer-Encoding: 7bit\r\n";
    } else {
        out += "Content-Type: text/plain; charset=" + CharsetOrDefault(charset) + "\r\n";
        out += "Content-Transfer-Encoding: quoted-printable\r\n";
        text = EncodeQuotedPrintable(text);
    }
    if (withBlankLine)
        out += "\r\n";
    out += text;
    if (!text.empty() && (text.size() < 2 || text.compare(text.size() - 2, 2, "\r\n") != 0))
        out += "\r\n";
    return out;
}

}  // namespace

std::string CharsetName(unsigned codePage) {
    switch (codePage) {
    case 65001:
        return "utf-8";
    case 20127:
        return "us-ascii";
    // The double-byte code pages by the names mail readers know them;
    // "windows-932" or "windows-950" would leave the text unreadable.
    case 932:
        return "shift_jis";
    case 936:
        return "gbk";
    case 949:
        return "ks_c_5601-1987";
    case 950:
        return "big5";
    }
    if (codePage >= 28591 && codePage <= 28599)
        return "iso-8859-" + std::to_string(codePage - 28590);
    return "windows-" + std::to_string(codePage);
}

std::string FormatDate(int year, int month, int day, int dayOfWeek, int hour, int minute,
                       int second, int utcOffsetMinutes) {
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (dayOfWeek < 0 || dayOfWeek > 6)
        dayOfWeek = 0;
    if (month < 1 || month > 12)
        month = 1;
    char sign = utcOffsetMinutes < 0 ? '-' : '+';
    int offset = utcOffsetMinutes < 0 ? -utcOffsetMinutes : utcOffsetMinutes;
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%s, %02d %s %04d %02d:%02d:%02d %c%02d%02d",
                  kDays[dayOfWeek], day, kMonths[month - 1], year, hour, minute, second, sign,
                  (offset / 60) % 100, offset % 60);
    return buffer;
}

std::string NormalizeLineBreaks(const std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\r') {
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            out += "\r\n";
        } else if (c == '\n') {
            out += "\r\n";
        } else {
            out += c;
        }
    }
    return out;
}

std::string EncodeBase64(const std::string& data) {
    std::string out;
    out.reserve((data.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < data.size(); i += 3) {
        unsigned v = (static_cast<unsigned char>(data[i]) << 16) |
                     (static_cast<unsigned char>(data[i + 1]) << 8) |
                     static_cast<unsigned char>(data[i + 2]);
        out += kBase64[(v >> 18) & 63];
        out += kBase64[(v >> 12) & 63];
        out += kBase64[(v >> 6) & 63];
        out += kBase64[v & 63];
    }
    std::size_t rest = data.size() - i;
    if (rest > 0) {
        unsigned v = static_cast<unsigned char>(data[i]) << 16;
        if (rest == 2)
            v |= static_cast<unsigned char>(data[i + 1]) << 8;
        out += kBase64[(v >> 18) & 63];
        out += kBase64[(v >> 12) & 63];
        out += rest == 2 ? kBase64[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::string EncodeBase64Lines(const std::string& data) {
    std::string encoded = EncodeBase64(data);
    std::string out;
    for (std::size_t i = 0; i < encoded.size(); i += 76) {
        out.append(encoded, i, 76);
        out += "\r\n";
    }
    return out;
}

std::string EncodeQuotedPrintable(const std::string& text) {
    std::string out;
    std::size_t lineLength = 0;
    auto put = [&](const std::string& token) {
        // Keep room for the soft break "=" within 76 characters.
        if (lineLength + token.size() > 75) {
            out += "=\r\n";
            lineLength = 0;
        }
        out += token;
        lineLength += token.size();
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            out += "\r\n";
            lineLength = 0;
            ++i;
            continue;
        }
        bool atLineEnd = i + 1 == text.size() || (text[i + 1] == '\r' && i + 2 < text.size() &&
                                                   text[i + 2] == '\n');
        bool literal = (c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !atLineEnd);
        if (literal) {
            put(std::string(1, static_cast<char>(c)));
        } else {
            std::string token = "=";
            token += kHex[c >> 4];
            token += kHex[c & 0x0F];
            put(token);
        }
    }
    return out;
}

std::string EncodeHeaderText(const std::string& text, const std::string& charset,
                             const std::function<bool(unsigned char)>& isLeadByte) {
    if (IsPlainHeaderText(text) && text.size() <= 900)
        return text;
    std::string cs = CharsetOrDefault(charset);
    bool utf8 = cs == "utf-8" || cs == "UTF-8";
    std::string prefix = "=?" + cs + "?B?";
    // An encoded word may be 75 characters long (RFC 2047 2); the first one
    // shares its line with the header's name, so every word stays shorter.
    // Room for at least one whole character of four bytes.
    std::size_t room = 65 > prefix.size() + 2 + 8 ? 65 - prefix.size() - 2 : 8;
    std::size_t bytesPerWord = room / 4 * 3;
    std::string out;
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t end = i;
        while (end < text.size()) {
            std::size_t length = 1;
            unsigned char c = static_cast<unsigned char>(text[end]);
            if (utf8 && c >= 0xC0) {
                while (end + length < text.size() && length < 4 &&
                       (static_cast<unsigned char>(text[end + length]) & 0xC0) == 0x80)
                    ++length;
            } else if (!utf8 && isLeadByte && isLeadByte(c) && end + 1 < text.size()) {
                length = 2;
            }
            if (end + length - i > bytesPerWord && end > i)
                break;
            end += length;
        }
        if (i > 0)
            out += "\r\n ";
        out += prefix + EncodeBase64(text.substr(i, end - i)) + "?=";
        i = end;
    }
    return out;
}

std::string BuildMessage(const TMimeMessage& message) {
    std::string out;
    out += "Date: " + message.Date + "\r\n";
    out += "From: " + message.From + "\r\n";
    if (!message.To.empty())
        out += AddressList("To", message.To);
    out += "Subject: " + EncodeHeaderText(message.Subject, message.Charset, message.IsLeadByte) +
           "\r\n";
    if (!message.MessageId.empty())
        out += "Message-ID: " + message.MessageId + "\r\n";
    out += "MIME-Version: 1.0\r\n";

    if (message.Attachments.empty()) {
        out += TextPart(message.Body, message.Charset, true);
        return out;
    }

    std::string textPart = TextPart(message.Body, message.Charset, true);
    // The boundary must not occur in any part; base64 and quoted-printable
    // never hold "=_", 7bit text might, so check and change it if needed.
    std::string boundary;
    for (int n = 0;; ++n) {
        boundary = "=_" + message.Boundary + (n > 0 ? "_" + std::to_string(n) : std::string());
        if (textPart.find(boundary) == std::string::npos)
            break;
    }
    out += "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\r\n";
    out += "\r\n";
    out += "This is a multi-part message in MIME format.\r\n";
    out += "\r\n--" + boundary + "\r\n";
    out += textPart;
    for (const TMimeAttachment& a : message.Attachments) {
        out += "\r\n--" + boundary + "\r\n";
        out += "Content-Type: application/octet-stream; " +
               FileNameParameter("name", a.FileName, message.Charset) + "\r\n";
        out += "Content-Transfer-Encoding: base64\r\n";
        out += "Content-Disposition: attachment; " +
               FileNameParameter("filename", a.FileName, message.Charset) + "\r\n";
        out += "\r\n";
        out += EncodeBase64Lines(a.Content);
    }
    out += "\r\n--" + boundary + "--\r\n";
    return out;
}

std::string DotStuff(const std::string& message) {
    std::string out;
    out.reserve(message.size() + message.size() / 32 + 8);
    bool lineStart = true;
    for (std::size_t i = 0; i < message.size(); ++i) {
        char c = message[i];
        if (lineStart && c == '.')
            out += '.';
        out += c;
        lineStart = (c == '\n');
    }
    if (!out.empty() && !lineStart)
        out += "\r\n";
    out += ".\r\n";
    return out;
}

}  // namespace bwmime
