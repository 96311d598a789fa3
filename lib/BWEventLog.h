// Writes Windows event-log entries under one event source.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The caller gives only a message identifier and the inserts: the entry type
// follows from the identifier's severity bits (31-30) and the category from
// its facility bits (27-16), so one identifier decides how an entry is shown.
//
// The source is registered on the first report and deregistered by the
// destructor. Failures are not reported: a failed registration leaves the
// reporter unregistered (that entry is lost and the next report tries
// again), and a failed ReportEventA is ignored. No message file is
// registered for the source here; that belongs to the installation.
//
// Not for use by several threads at once.
class TBWEventLogReporter {
public:
    explicit TBWEventLogReporter(std::string sourceName);
    ~TBWEventLogReporter();
    TBWEventLogReporter(const TBWEventLogReporter&) = delete;
    TBWEventLogReporter& operator=(const TBWEventLogReporter&) = delete;

    // The event source handle (a HANDLE); registers the source first when it
    // is not registered yet. Null when the registration fails.
    void* GetHandle();
    const std::string& SourceName() const { return FSourceName; }
    bool Registered() const { return FHandle != nullptr; }

    // One entry: type and category from the identifier, the identifier as
    // event id, the inserts in order as %1, %2, ... (empty ones included).
    void Report(std::uint32_t identifier, const std::vector<std::string>& inserts);

    // EVENTLOG_INFORMATION_TYPE for severity 0 and 1, EVENTLOG_WARNING_TYPE
    // for 2, EVENTLOG_ERROR_TYPE for 3.
    static std::uint16_t EventTypeOf(std::uint32_t identifier);
    // The 12-bit facility field.
    static std::uint16_t CategoryOf(std::uint32_t identifier);

private:
    void* FHandle = nullptr;
    const std::string FSourceName;
};
