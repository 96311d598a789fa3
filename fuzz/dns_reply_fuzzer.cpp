// Any bytes as a reply to "example.test MX": parse must fail cleanly or give
// records that stay within the limits of a DNS message.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "net/BWDnsWire.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Take the id from the input, so that most inputs get past the id check.
    std::uint16_t id = size >= 2 ? static_cast<std::uint16_t>((data[0] << 8) | data[1]) : 0;
    for (const char* qname : {"example.test", "a"}) {
        bwdns::TDnsReply reply;
        std::string error;
        bool ok = bwdns::ParseReply(data, size, id, qname, bwdns::kTypeMX, reply, error);
        if (!ok && (!reply.Answers.empty() || error.empty()))
            std::abort();
        if (ok) {
            // Every record takes at least 11 bytes on the wire.
            if (reply.Answers.size() * 11 > size)
                std::abort();
            for (const bwdns::TDnsRecord& r : reply.Answers)
                if (r.Exchange.size() > 4 * 255 || r.Name.size() > 4 * 255)
                    std::abort();
        }
    }
    return 0;
}
