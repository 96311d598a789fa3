// Writes known event-log entries for eventlog_trace.sh, which reads Wine's
// trace of them. Each scenario starts with a marker line "@@ <name>" on
// stderr, the stream Wine's debug output shares, so the script can tell which
// entries belong to which scenario.
#include <cstdio>

#include "lib/BWEventLog.h"

namespace {

void Mark(const char* name) {
    std::fprintf(stderr, "@@ %s\n", name);
    std::fflush(stderr);
}

}  // namespace

int main() {
    Mark("unused");
    {
        TBWEventLogReporter reporter("Tarnwick");
    }

    Mark("reports");
    {
        TBWEventLogReporter reporter("Tarnwick");
        reporter.Report(0x40010005, {"1/2/2026 3:04:05 PM", "WORKGROUP\\VM", ""});
        reporter.Report(0xC0020001, {"a@example.test\r\nb@example.test\r\n"});
        Mark("severities");
        reporter.Report(0x00010001, {"success"});
        reporter.Report(0x80030001, {});
        Mark("destroy");
    }
    Mark("end");
    return 0;
}
