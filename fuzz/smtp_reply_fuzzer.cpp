// Any bytes from an SMTP server, fed in pieces whose sizes the input picks:
// replies must have a valid code and bounded lines, faults must be final.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "net/BWSmtpWire.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    bwsmtp::TSmtpReplyReader reader;
    std::size_t chunk = data[0] % 17 + 1;
    bool failed = false;
    for (std::size_t pos = 1; pos < size; pos += chunk) {
        std::size_t n = size - pos < chunk ? size - pos : chunk;
        reader.Append(reinterpret_cast<const char*>(data + pos), n);
        for (;;) {
            bwsmtp::TSmtpReply reply;
            std::string error;
            bwsmtp::TReadStatus status = reader.Take(reply, error);
            if (status == bwsmtp::TReadStatus::NeedMore) {
                if (failed)
                    std::abort();  // a fault must stay a fault
                break;
            }
            if (status == bwsmtp::TReadStatus::Error) {
                if (error.empty())
                    std::abort();
                failed = true;
                break;
            }
            if (failed || reply.Code < 200 || reply.Code > 599 || reply.Lines.empty() ||
                reply.Lines.size() > bwsmtp::TSmtpReplyReader::kMaxLines)
                std::abort();
            for (const std::string& line : reply.Lines)
                if (line.size() > bwsmtp::TSmtpReplyReader::kMaxLineLength)
                    std::abort();
            (void)reply.Text();
        }
    }
    return 0;
}
