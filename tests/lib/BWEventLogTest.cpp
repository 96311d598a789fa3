#include <gtest/gtest.h>
#include <windows.h>

#include "lib/BWEventLog.h"
#include "service/twmessages.h"

// What reaches the event log is checked through Wine's trace by
// eventlog_trace.sh; these cases hold the mapping and the registration state.

TEST(TBWEventLogReporter, EntryTypeFromTheSeverityBits) {
    EXPECT_EQ(TBWEventLogReporter::EventTypeOf(0x00010001), EVENTLOG_INFORMATION_TYPE);
    EXPECT_EQ(TBWEventLogReporter::EventTypeOf(0x40010005), EVENTLOG_INFORMATION_TYPE);
    EXPECT_EQ(TBWEventLogReporter::EventTypeOf(0x80030001), EVENTLOG_WARNING_TYPE);
    EXPECT_EQ(TBWEventLogReporter::EventTypeOf(0xC0020001), EVENTLOG_ERROR_TYPE);
}

TEST(TBWEventLogReporter, CategoryFromTheTwelveFacilityBits) {
    EXPECT_EQ(TBWEventLogReporter::CategoryOf(MSG_SERVICE_STARTUP), CATEGORY_ALERT);
    EXPECT_EQ(TBWEventLogReporter::CategoryOf(MSG_MONITOR_SHUTDOWN), CATEGORY_ALERT);
    EXPECT_EQ(TBWEventLogReporter::CategoryOf(MSG_SMTP_SEND_FAILED), CATEGORY_SMTP);
    EXPECT_EQ(TBWEventLogReporter::CategoryOf(0x80030001), 3);
    // Customer and reserved bits (29, 28) are not part of the facility.
    EXPECT_EQ(TBWEventLogReporter::CategoryOf(0x3FFF0001), 0xFFF);
}

TEST(TBWEventLogReporter, RegistersOnFirstUseOnly) {
    TBWEventLogReporter reporter("Tarnwick");
    EXPECT_EQ(reporter.SourceName(), "Tarnwick");
    EXPECT_FALSE(reporter.Registered());
    void* handle = reporter.GetHandle();
    ASSERT_NE(handle, nullptr);
    EXPECT_TRUE(reporter.Registered());
    EXPECT_EQ(reporter.GetHandle(), handle);
    reporter.Report(MSG_MONITOR_STARTUP, {"now", "VM", "then"});
    EXPECT_EQ(reporter.GetHandle(), handle);
}

TEST(TBWEventLogReporter, DestructorKeepsTheLastError) {
    auto* reporter = new TBWEventLogReporter("Tarnwick");
    reporter->Report(MSG_MONITOR_STARTUP, {});
    SetLastError(ERROR_ACCESS_DENIED);
    delete reporter;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}
