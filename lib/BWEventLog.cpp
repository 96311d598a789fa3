#include "BWEventLog.h"

#include <windows.h>

TBWEventLogReporter::TBWEventLogReporter(std::string sourceName)
    : FSourceName(std::move(sourceName)) {}

TBWEventLogReporter::~TBWEventLogReporter() {
    if (FHandle != nullptr) {
        // Keep the thread's last error for whoever frees us on an error path.
        DWORD saved = GetLastError();
        DeregisterEventSource(FHandle);
        FHandle = nullptr;
        SetLastError(saved);
    }
}

void* TBWEventLogReporter::GetHandle() {
    if (FHandle == nullptr)
        FHandle = RegisterEventSourceA(nullptr, FSourceName.c_str());
    return FHandle;
}

std::uint16_t TBWEventLogReporter::EventTypeOf(std::uint32_t identifier) {
    switch (identifier >> 30) {
    case 2:
        return EVENTLOG_WARNING_TYPE;
    case 3:
        return EVENTLOG_ERROR_TYPE;
    default:
        return EVENTLOG_INFORMATION_TYPE;
    }
}

std::uint16_t TBWEventLogReporter::CategoryOf(std::uint32_t identifier) {
    return static_cast<std::uint16_t>((identifier >> 16) & 0xFFF);
}

void TBWEventLogReporter::Report(std::uint32_t identifier,
                                 const std::vector<std::string>& inserts) {
    std::vector<LPCSTR> strings;
    strings.reserve(inserts.size());
    for (const std::string& s : inserts)
        strings.push_back(s.c_str());
    // The entry is lost when the source could not be registered; the call
    // with a null handle simply fails and the result is not looked at.
    ReportEventA(GetHandle(), EventTypeOf(identifier), CategoryOf(identifier), identifier,
                 nullptr, static_cast<WORD>(strings.size()), 0,
                 strings.empty() ? nullptr : strings.data(), nullptr);
}
