#include "BWSmtpWire.h"

namespace bwsmtp {

std::string TSmtpReply::Text() const {
    std::string text = std::to_string(Code);
    for (const std::string& line : Lines) {
        if (!line.empty()) {
            text += ' ';
            text += line;
        }
    }
    return text;
}

void TSmtpReplyReader::Append(const char* data, std::size_t size) {
    if (!FError.empty() || size == 0)
        return;
    FBuffer.append(data, size);
    // Bound what is held before a line end arrives: a reply is parsed line by
    // line, so more than one line's worth without a line end is a fault.
    // Take reports it; here the buffer only stops growing.
    if (FBuffer.size() > kMaxLineLength * 4 && FBuffer.find('\n') == std::string::npos) {
        FError = "SMTP reply line too long";
        FBuffer.clear();
    }
}

TReadStatus TSmtpReplyReader::Take(TSmtpReply& reply, std::string& error) {
    for (;;) {
        if (!FError.empty()) {
            error = FError;
            return TReadStatus::Error;
        }
        std::size_t lf = FBuffer.find('\n');
        if (lf == std::string::npos) {
            if (FBuffer.size() > kMaxLineLength)
                FError = "SMTP reply line too long";
            else
                return TReadStatus::NeedMore;
            continue;
        }
        std::size_t len = lf;
        if (len > 0 && FBuffer[len - 1] == '\r')
            --len;
        if (len > kMaxLineLength) {
            FError = "SMTP reply line too long";
            continue;
        }
        std::string line = FBuffer.substr(0, len);
        FBuffer.erase(0, lf + 1);

        if (line.size() < 3 || line[0] < '2' || line[0] > '5' || line[1] < '0' || line[1] > '9' ||
            line[2] < '0' || line[2] > '9') {
            FError = "Malformed SMTP reply: not a reply code";
            continue;
        }
        int code = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
        bool last;
        if (line.size() == 3 || line[3] == ' ') {
            last = true;
        } else if (line[3] == '-') {
            last = false;
        } else {
            FError = "Malformed SMTP reply: bad separator after the code";
            continue;
        }
        if (!FPending.Lines.empty() && code != FPending.Code) {
            FError = "Malformed SMTP reply: lines with different codes";
            continue;
        }
        if (FPending.Lines.size() >= kMaxLines) {
            FError = "SMTP reply has too many lines";
            continue;
        }
        FPending.Code = code;
        FPending.Lines.push_back(line.size() > 4 ? line.substr(4) : std::string());
        if (last) {
            reply = std::move(FPending);
            FPending = TSmtpReply();
            return TReadStatus::Reply;
        }
    }
}

void TSmtpReplyReader::Reset() {
    FBuffer.clear();
    FPending = TSmtpReply();
    FError.clear();
}

bool IsCommandSafe(const std::string& text) {
    for (char c : text)
        if (c == '\r' || c == '\n' || c == '\0')
            return false;
    return true;
}

bool IsHostName(const std::string& name) {
    if (name.empty() || name.size() > 253)
        return false;
    for (char c : name) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '-' || c == '.';
        if (!ok)
            return false;
    }
    return name.front() != '.' && name.front() != '-' && name.back() != '.';
}

std::string HeloName(const std::string& fqdn, const std::string& localAddress, bool ipv6) {
    if (IsHostName(fqdn) && fqdn.find('.') != std::string::npos)
        return fqdn;
    return (ipv6 ? "[IPv6:" : "[") + localAddress + "]";
}

}  // namespace bwsmtp
