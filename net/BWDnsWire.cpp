#include "BWDnsWire.h"

namespace bwdns {

namespace {

constexpr std::size_t kHeaderSize = 12;
// A name can hold at most 127 labels; more pointer hops than that can only
// be a loop, even though backward-only pointers already rule loops out.
constexpr int kMaxPointerHops = 128;

char LowerAZ(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (LowerAZ(a[i]) != LowerAZ(b[i]))
            return false;
    return true;
}

std::string WithoutTrailingDot(const std::string& name) {
    if (!name.empty() && name.back() == '.')
        return name.substr(0, name.size() - 1);
    return name;
}

void AppendLabelText(std::string& out, const std::uint8_t* label, std::size_t len) {
    static const char kDigits[] = "0123456789";
    for (std::size_t i = 0; i < len; ++i) {
        std::uint8_t c = label[i];
        if (c == '.' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c <= 0x20 || c >= 0x7f) {
            out += '\\';
            out += kDigits[c / 100];
            out += kDigits[(c / 10) % 10];
            out += kDigits[c % 10];
        } else {
            out += static_cast<char>(c);
        }
    }
}

// Reads bounds-checked big-endian fields from one packet.
class TReader {
public:
    TReader(const std::uint8_t* data, std::size_t size) : FData(data), FSize(size) {}

    std::size_t Pos() const { return FPos; }
    bool U16(std::uint16_t& v) {
        if (FSize - FPos < 2)
            return false;
        v = static_cast<std::uint16_t>((FData[FPos] << 8) | FData[FPos + 1]);
        FPos += 2;
        return true;
    }
    bool U32(std::uint32_t& v) {
        if (FSize - FPos < 4)
            return false;
        v = (static_cast<std::uint32_t>(FData[FPos]) << 24) |
            (static_cast<std::uint32_t>(FData[FPos + 1]) << 16) |
            (static_cast<std::uint32_t>(FData[FPos + 2]) << 8) | FData[FPos + 3];
        FPos += 4;
        return true;
    }
    bool Skip(std::size_t n) {
        if (FSize - FPos < n)
            return false;
        FPos += n;
        return true;
    }

    // Reads a possibly compressed name at the current position and moves past
    // its bytes in place (the pointer, not what it points to).
    bool Name(std::string& out, std::string& error) {
        out.clear();
        std::size_t pos = FPos;
        std::size_t resumeAt = 0;  // set at the first pointer
        bool jumped = false;
        int hops = 0;
        std::size_t wireLength = 1;  // the closing zero byte
        // Pointers must go strictly backwards from the label run they end, so
        // a chain of them can never come back to where it was.
        std::size_t runStart = pos;
        for (;;) {
            if (pos >= FSize) {
                error = "name runs past the end of the packet";
                return false;
            }
            std::uint8_t len = FData[pos];
            if (len == 0) {
                ++pos;
                break;
            }
            if ((len & 0xC0) == 0xC0) {
                if (FSize - pos < 2) {
                    error = "compression pointer cut off";
                    return false;
                }
                std::size_t target = (static_cast<std::size_t>(len & 0x3F) << 8) | FData[pos + 1];
                if (target >= runStart) {
                    error = "compression pointer does not point backwards";
                    return false;
                }
                if (++hops > kMaxPointerHops) {
                    error = "too many compression pointers";
                    return false;
                }
                if (!jumped) {
                    resumeAt = pos + 2;
                    jumped = true;
                }
                pos = target;
                runStart = target;
                continue;
            }
            if ((len & 0xC0) != 0) {
                error = "unknown label type";
                return false;
            }
            if (FSize - pos - 1 < len) {
                error = "label runs past the end of the packet";
                return false;
            }
            wireLength += 1u + len;
            if (wireLength > kMaxNameLength) {
                error = "name longer than 255 bytes";
                return false;
            }
            if (!out.empty())
                out += '.';
            AppendLabelText(out, FData + pos + 1, len);
            pos += 1u + len;
        }
        FPos = jumped ? resumeAt : pos;
        return true;
    }

private:
    const std::uint8_t* FData;
    std::size_t FSize;
    std::size_t FPos = 0;
};

bool Fail(std::string& error, const char* text, TDnsReply& reply) {
    error = text;
    reply = TDnsReply();
    return false;
}

}  // namespace

bool BuildQuery(std::uint16_t id, const std::string& name, std::uint16_t qtype,
                bool recursionDesired, std::vector<std::uint8_t>& out, std::string& error) {
    out.clear();
    std::string n = WithoutTrailingDot(name);
    if (n.empty()) {
        error = "empty name";
        return false;
    }
    std::vector<std::uint8_t> q = {
        static_cast<std::uint8_t>(id >> 8), static_cast<std::uint8_t>(id & 0xFF),
        static_cast<std::uint8_t>(recursionDesired ? 0x01 : 0x00), 0x00,  // QR=0, opcode 0, RD
        0x00, 0x01,  // one question
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    };
    std::size_t start = 0;
    std::size_t wireLength = 1;
    while (start <= n.size()) {
        std::size_t dot = n.find('.', start);
        if (dot == std::string::npos)
            dot = n.size();
        std::size_t len = dot - start;
        if (len == 0) {
            error = "empty label in name";
            return false;
        }
        if (len > kMaxLabelLength) {
            error = "label longer than 63 bytes";
            return false;
        }
        wireLength += 1 + len;
        if (wireLength > kMaxNameLength) {
            error = "name longer than 255 bytes";
            return false;
        }
        q.push_back(static_cast<std::uint8_t>(len));
        q.insert(q.end(), n.begin() + static_cast<std::ptrdiff_t>(start),
                 n.begin() + static_cast<std::ptrdiff_t>(dot));
        start = dot + 1;
    }
    q.push_back(0);
    q.push_back(static_cast<std::uint8_t>(qtype >> 8));
    q.push_back(static_cast<std::uint8_t>(qtype & 0xFF));
    q.push_back(0);
    q.push_back(static_cast<std::uint8_t>(kClassIN));
    out.swap(q);
    return true;
}

bool ParseReply(const std::uint8_t* data, std::size_t size, std::uint16_t id,
                const std::string& qname, std::uint16_t qtype, TDnsReply& reply,
                std::string& error) {
    reply = TDnsReply();
    if (data == nullptr || size < kHeaderSize)
        return Fail(error, "reply shorter than a DNS header", reply);
    TReader r(data, size);
    std::uint16_t rid, flags, qd, an, ns, ar;
    r.U16(rid);
    r.U16(flags);
    r.U16(qd);
    r.U16(an);
    r.U16(ns);
    r.U16(ar);
    (void)ns;
    (void)ar;
    if (rid != id)
        return Fail(error, "reply id does not match the query", reply);
    if ((flags & 0x8000) == 0)
        return Fail(error, "packet is not a response", reply);
    if (((flags >> 11) & 0x0F) != 0)
        return Fail(error, "unexpected opcode", reply);

    TDnsReply result;
    result.Id = rid;
    result.Authoritative = (flags & 0x0400) != 0;
    result.Truncated = (flags & 0x0200) != 0;
    result.RecursionAvailable = (flags & 0x0080) != 0;
    result.RCode = static_cast<std::uint8_t>(flags & 0x0F);

    // Some servers leave the question out of an error reply; a good reply
    // must repeat exactly the one question asked.
    if (qd == 0 && result.RCode != 0 && an == 0) {
        reply = result;
        return true;
    }
    if (qd != 1)
        return Fail(error, "reply does not hold exactly one question", reply);
    std::string name;
    if (!r.Name(name, error)) {
        reply = TDnsReply();
        return false;
    }
    std::uint16_t type, cls;
    if (!r.U16(type) || !r.U16(cls))
        return Fail(error, "question cut off", reply);
    if (!EqualNoCase(name, WithoutTrailingDot(qname)) || type != qtype || cls != kClassIN)
        return Fail(error, "reply answers another question", reply);

    for (std::uint16_t i = 0; i < an; ++i) {
        TDnsRecord rec;
        std::uint16_t rdlength;
        if (!r.Name(rec.Name, error)) {
            reply = TDnsReply();
            return false;
        }
        if (!r.U16(rec.Type) || !r.U16(rec.Class) || !r.U32(rec.TTL) || !r.U16(rdlength))
            return Fail(error, "answer record cut off", reply);
        std::size_t rdStart = r.Pos();
        if (size - rdStart < rdlength)
            return Fail(error, "record data runs past the end of the packet", reply);
        if (rec.Type == kTypeMX) {
            if (rdlength < 3)
                return Fail(error, "MX record data too short", reply);
            r.U16(rec.Preference);
            if (!r.Name(rec.Exchange, error)) {
                reply = TDnsReply();
                return false;
            }
            if (r.Pos() - rdStart != rdlength)
                return Fail(error, "MX record length does not match its data", reply);
        } else {
            r.Skip(rdlength);
        }
        result.Answers.push_back(std::move(rec));
    }
    // Authority and additional sections are not needed and not read.
    reply = std::move(result);
    return true;
}

}  // namespace bwdns
