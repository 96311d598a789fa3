#include <gtest/gtest.h>
#include <windows.h>
#include <psapi.h>

#include <set>
#include <vector>

#include "lib/BWResources.h"
#include "lib/BWStringUtils.h"
#include "rtl/DateUtils.h"
#include "service/AlertTemplates.h"

// The templates are read from this program's own resources: the test links
// the service's resource objects (see CMakeLists.txt).

namespace {

struct TemplateText {
    const char* name;
    std::vector<std::string> lines;  // each followed by CR LF
};

const std::vector<TemplateText>& ExpectedTemplates() {
    static const std::vector<TemplateText> templates = {
        {"TarnwickStartupMsg",
         {"Tarnwick has successfully started.", "", "Computer:  <%COMPUTERNAME%>",
          "Time:      <%CURRENTTIME%>", "Booted At: <%BOOTTIME%>", "", "",
          "Monitored Services ----------------------------------------",
          "SERVICE NAME                    STATUS", "", "<%SERVICELIST%>", "", "",
          "Monitored Processes ---------------------------------------",
          "PROCESS NAME                    INSTANCES", "", "<%PROCESSLIST%>"}},
        {"TarnwickShutdownMsg",
         {"Tarnwick is shutting down. Services and processes will no", "longer be monitored.", "",
          "Computer:  <%COMPUTERNAME%>", "Time:      <%CURRENTTIME%>", "Booted At: <%BOOTTIME%>",
          ""}},
        {"WindowsShutdownMsg",
         {"Windows is shutting down. ", "", "Computer:  <%COMPUTERNAME%>",
          "Time:      <%CURRENTTIME%>", "Booted At: <%BOOTTIME%>", ""}},
        {"ServiceStartupMsg",
         {"Tarnwick has detected that a monitored Windows Services has started up.", "",
          "Computer:  <%COMPUTERNAME%>", "Time:      <%CURRENTTIME%>",
          "Service:   <%DISPLAYNAME%>", "           (<%SERVICENAME%>)", "",
          "-- Process Statistics -----------------------------------",
          "Process Name: <%PROCESSNAME%>", "Owner:        <%OWNERUSERNAME%>",
          "Started At:   <%STARTTIME%>", ""}},
        {"ServiceShutdownMsg",
         {"Tarnwick has detected that a monitored Windows Services has shutdown.", "",
          "Computer:  <%COMPUTERNAME%>", "Time:      <%CURRENTTIME%>",
          "Service:   <%DISPLAYNAME%>", "           (<%SERVICENAME%>)",
          "Exit Code: <%WIN32EXITCODE%> (<%WIN32EXITCODESTR%>)",
          "Service Exit Code: <%SERVICESPECIFICEXITCODE%>", "",
          "-- Process Statistics -----------------------------------",
          "Process Name: <%PROCESSNAME%>", "Owner:        <%OWNERUSERNAME%>",
          "Started At:   <%STARTTIME%>", "Shutdown At:  <%SHUTDOWNTIME%>", "",
          "Kernel Time:  <%KERNELTIME%>", "User Time:    <%USERTIME%>",
          "Total Time:   <%TOTALTIME%>", "",
          "-- Memory Diagnostics -----------------------------------",
          "Page Faults:         <%PAGEFAULTCOUNT%>", "Peak Working Set:    <%PEAKWORKINGSETSIZE%>",
          "Peak Paged Pool:     <%PEAKPAGEDPOOL%>", "Peak Non Paged Pool: <%PEAKNONPAGEDPOOL%>",
          "Peak Pagefile:       <%PEAKPAGEFILE%> ", "", ""}},
        {"ProcessStartupMsg",
         {"Tarnwick has detected that a monitored process has started up.", "",
          "Computer: <%COMPUTERNAME%>", "Time:     <%CURRENTTIME%>",
          "Process:  <%SHORTPROCESSNAME%>", "",
          "-- Process Statistics -----------------------------------",
          "Full Path:  <%PROCESSNAME%>", "Owner:      <%OWNERUSERNAME%>",
          "Started At: <%STARTTIME%>", "", "Total", "Instances:  <%PROCESSINSTANCECOUNT%>", ""}},
        {"ProcessShutdownMsg",
         {"Tarnwick has detected that a monitored process has shutdown.", "",
          "Computer:  <%COMPUTERNAME%>", "Time:      <%CURRENTTIME%>",
          "Process:   <%SHORTPROCESSNAME%>", "Exit Code: <%PROCESSEXITCODE%>", "",
          "-- Process Statistics -----------------------------------",
          "Full Path:    <%PROCESSNAME%>", "Owner:        <%OWNERUSERNAME%>",
          "Started At:   <%STARTTIME%>", "Shutdown At:  <%SHUTDOWNTIME%>", "",
          "Kernel Time:  <%KERNELTIME%>", "User Time:    <%USERTIME%>",
          "Total Time:   <%TOTALTIME%>", "", "Remaining",
          "Instances:    <%PROCESSINSTANCECOUNT%>", "",
          "-- Memory Diagnostics -----------------------------------",
          "Page Faults:         <%PAGEFAULTCOUNT%>", "Peak Working Set:    <%PEAKWORKINGSETSIZE%>",
          "Peak Paged Pool:     <%PEAKPAGEDPOOL%>", "Peak Non Paged Pool: <%PEAKNONPAGEDPOOL%>",
          "Peak Pagefile:       <%PEAKPAGEFILE%>", "", ""}},
    };
    return templates;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines)
        text += line + "\r\n";
    return text;
}

std::set<std::string> Placeholders(const std::string& text) {
    std::set<std::string> found;
    for (size_t pos = text.find("<%"); pos != std::string::npos; pos = text.find("<%", pos + 2))
        found.insert(text.substr(pos, text.find("%>", pos) + 2 - pos));
    return found;
}

// Every field holds its own name, so a filled text shows what went where.
TTemplateFields NamedFields() {
    TTemplateFields f;
    f.ComputerName = "[ComputerName]";
    f.CurrentTime = "[CurrentTime]";
    f.DisplayName = "[DisplayName]";
    f.ServiceName = "[ServiceName]";
    f.Win32ExitCode = "[Win32ExitCode]";
    f.Win32ExitCodeStr = "[Win32ExitCodeStr]";
    f.ServiceSpecificExitCode = "[ServiceSpecificExitCode]";
    f.ProcessName = "[ProcessName]";
    f.OwnerUserName = "[OwnerUserName]";
    f.ShortProcessName = "[ShortProcessName]";
    f.ProcessExitCode = "[ProcessExitCode]";
    f.ProcessInstanceCount = "[ProcessInstanceCount]";
    f.StartTime = "[StartTime]";
    f.ShutdownTime = "[ShutdownTime]";
    f.KernelTime = "[KernelTime]";
    f.UserTime = "[UserTime]";
    f.TotalTime = "[TotalTime]";
    f.PageFaultCount = "[PageFaultCount]";
    f.PeakWorkingSetSize = "[PeakWorkingSetSize]";
    f.PeakPagedPool = "[PeakPagedPool]";
    f.PeakNonPagedPool = "[PeakNonPagedPool]";
    f.PeakPagefile = "[PeakPagefile]";
    return f;
}

bool EnglishUS() {
    char buffer[64];
    int n = GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STIMEFORMAT, buffer, sizeof buffer);
    std::string time = n > 0 ? std::string(buffer, n - 1) : std::string();
    n = GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SSHORTDATE, buffer, sizeof buffer);
    std::string date = n > 0 ? std::string(buffer, n - 1) : std::string();
    n = GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STHOUSAND, buffer, sizeof buffer);
    std::string thousands = n > 0 ? std::string(buffer, n - 1) : std::string();
    return time == "h:mm:ss tt" && date == "M/d/yyyy" && thousands == ",";
}

}  // namespace

TEST(AlertTemplates, EveryTemplateResourceIsItsTextByteForByte) {
    for (const TemplateText& t : ExpectedTemplates()) {
        std::string resource = GetResourceString(t.name, TEMPLATE_RESOURCE_TYPE);
        EXPECT_EQ(resource, Joined(t.lines)) << t.name;
    }
    EXPECT_EQ(ExpectedTemplates().size(), 7u);
    // The names the alert builder uses, found whatever their case.
    for (const char* name : {TEMPLATE_TARNWICK_STARTUP, TEMPLATE_TARNWICK_SHUTDOWN,
                             TEMPLATE_WINDOWS_SHUTDOWN, TEMPLATE_SERVICE_STARTUP,
                             TEMPLATE_SERVICE_SHUTDOWN, TEMPLATE_PROCESS_STARTUP,
                             TEMPLATE_PROCESS_SHUTDOWN, "processshutdownmsg"})
        EXPECT_NO_THROW(GetResourceString(name, "text")) << name;
}

TEST(AlertTemplates, ListHeadingsArePaddedToTheNameColumn) {
    std::string text = GetResourceString(TEMPLATE_TARNWICK_STARTUP, TEMPLATE_RESOURCE_TYPE);
    EXPECT_NE(text.find("\r\nSERVICE NAME" + std::string(20, ' ') + "STATUS\r\n"),
              std::string::npos);
    EXPECT_NE(text.find("\r\nPROCESS NAME" + std::string(20, ' ') + "INSTANCES\r\n"),
              std::string::npos);
}

TEST(FillTemplate, FillsEveryPlaceholderOfEveryServiceAndProgramTemplate) {
    for (const char* name : {"ServiceStartupMsg", "ServiceShutdownMsg", "ProcessStartupMsg",
                             "ProcessShutdownMsg"}) {
        std::string filled = FillTemplate(GetResourceString(name, "TEXT"), NamedFields());
        EXPECT_EQ(filled.find("<%"), std::string::npos) << name << "\n" << filled;
    }
    std::string filled = FillTemplate(GetResourceString("ServiceShutdownMsg", "TEXT"), NamedFields());
    EXPECT_NE(filled.find("\r\nExit Code: [Win32ExitCode] ([Win32ExitCodeStr])\r\n"),
              std::string::npos);
    EXPECT_NE(filled.find("\r\nPeak Pagefile:       [PeakPagefile] \r\n\r\n\r\n"),
              std::string::npos);
    std::string process =
        FillTemplate(GetResourceString("ProcessStartupMsg", "TEXT"), NamedFields());
    EXPECT_EQ(process,
              "Tarnwick has detected that a monitored process has started up.\r\n\r\n"
              "Computer: [ComputerName]\r\nTime:     [CurrentTime]\r\n"
              "Process:  [ShortProcessName]\r\n\r\n"
              "-- Process Statistics -----------------------------------\r\n"
              "Full Path:  [ProcessName]\r\nOwner:      [OwnerUserName]\r\n"
              "Started At: [StartTime]\r\n\r\nTotal\r\nInstances:  [ProcessInstanceCount]\r\n"
              "\r\n");
}

TEST(FillTemplate, PlaceholdersMatchInAnyCaseAndEveryOccurrence) {
    TTemplateFields f;
    f.ComputerName = "WORKGROUP\\SERVER1";
    EXPECT_EQ(FillTemplate("<%computername%>|<%ComputerName%>|<%COMPUTERNAME%>", f),
              "WORKGROUP\\SERVER1|WORKGROUP\\SERVER1|WORKGROUP\\SERVER1");
    EXPECT_EQ(FillTemplate("<%COMPUTERNAME%", f), "<%COMPUTERNAME%");
    EXPECT_EQ(FillTemplate("<%SERVICELIST%> <%UNKNOWN%>", f), "<%SERVICELIST%> <%UNKNOWN%>");
}

TEST(FillTemplate, PassesRunInRecordOrderOnEachOthersResult) {
    TTemplateFields f;
    // A later field's placeholder inside an earlier value is filled by the
    // later pass; a value holding its own or an earlier placeholder is not
    // scanned again.
    f.DisplayName = "Display <%STARTTIME%>";
    f.StartTime = "start <%STARTTIME%> <%COMPUTERNAME%>";
    f.ComputerName = "VM";
    EXPECT_EQ(FillTemplate("<%DISPLAYNAME%>", f), "Display start <%STARTTIME%> <%COMPUTERNAME%>");
    EXPECT_EQ(ReplacePlaceholder("aXXbxxc", "xx", "xx-XX"), "axx-XXbxx-XXc");
    EXPECT_EQ(ReplacePlaceholder("", "<%A%>", "v"), "");
}

TEST(FillTarnwickTemplate, FillsItsThreeAndLeavesTheLists) {
    TTarnwickTemplateFields f{"WORKGROUP\\VM", "12/9/2026 5:14:04 AM", "12/9/2026 5:00:00 AM"};
    std::string filled =
        FillTarnwickTemplate(GetResourceString(TEMPLATE_TARNWICK_STARTUP, "TEXT"), f);
    EXPECT_NE(filled.find("Computer:  WORKGROUP\\VM\r\nTime:      12/9/2026 5:14:04 AM\r\n"
                          "Booted At: 12/9/2026 5:00:00 AM\r\n"),
              std::string::npos);
    EXPECT_EQ(Placeholders(filled),
              (std::set<std::string>{PLACEHOLDER_SERVICELIST, PLACEHOLDER_PROCESSLIST}));
    filled = ReplacePlaceholder(filled, PLACEHOLDER_SERVICELIST, "spooler  Running\r\n");
    filled = ReplacePlaceholder(filled, PLACEHOLDER_PROCESSLIST, "None");
    EXPECT_EQ(filled.substr(filled.size() - 8), "\r\nNone\r\n");
    EXPECT_EQ(FillTarnwickTemplate(GetResourceString(TEMPLATE_WINDOWS_SHUTDOWN, "TEXT"), f),
              "Windows is shutting down. \r\n\r\nComputer:  WORKGROUP\\VM\r\n"
              "Time:      12/9/2026 5:14:04 AM\r\nBooted At: 12/9/2026 5:00:00 AM\r\n\r\n");
}

TEST(TemplateFields, ComputerNameWithWorkgroup) {
    EXPECT_EQ(QualifiedComputerName(true, "SERVER1", true, "WORKGROUP"), "WORKGROUP\\SERVER1");
    EXPECT_EQ(QualifiedComputerName(true, "SERVER1", false, ""), "SERVER1");
    EXPECT_EQ(QualifiedComputerName(false, "", true, "WORKGROUP"), "WORKGROUP\\UNKNOWN");
    EXPECT_EQ(QualifiedComputerName(false, "", false, ""), "UNKNOWN");
}

TEST(TemplateFields, ShortProcessNameFollowsTheLastBackslashOrColon) {
    EXPECT_EQ(ShortProcessName("C:\\Program Files\\Tool\\app.exe"), "app.exe");
    EXPECT_EQ(ShortProcessName("C:app.exe"), "app.exe");
    EXPECT_EQ(ShortProcessName("app.exe"), "app.exe");
    EXPECT_EQ(ShortProcessName(""), "");
}

TEST(TemplateFields, ExitCodesOfAServiceStatus) {
    SERVICE_STATUS status{};
    TTemplateFields f;
    SetServiceStatusFields(status, f);
    EXPECT_EQ(f.Win32ExitCode, "0");
    EXPECT_EQ(f.Win32ExitCodeStr, "No Error");
    EXPECT_EQ(f.ServiceSpecificExitCode, "0");
    status.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;  // 1066
    status.dwServiceSpecificExitCode = 0xFFFFFFFF;
    SetServiceStatusFields(status, f);
    EXPECT_EQ(f.Win32ExitCode, "1066");
    EXPECT_EQ(f.Win32ExitCodeStr, SystemErrorText(1066));
    EXPECT_FALSE(f.Win32ExitCodeStr.empty());
    EXPECT_EQ(f.ServiceSpecificExitCode, "4294967295");
}

TEST(TemplateFields, DatesTimesAndDurations) {
    if (!EnglishUS())
        GTEST_SKIP() << "needs en-US formats (M/d/yyyy, h:mm:ss tt; LC_ALL=C under Wine)";
    TDateTime start = EncodeDate(2026, 12, 9) + EncodeTime(5, 14, 4, 0);
    TTemplateFields f;
    SetProcessTimeFields(start, 0.0, 26.0 / 24, 0.5, f);
    EXPECT_EQ(f.StartTime, "12/9/2026 5:14:04 AM");
    EXPECT_EQ(f.ShutdownTime, "Still running");
    EXPECT_EQ(f.KernelTime, "1d 2:00:00 AM");
    EXPECT_EQ(f.UserTime, "12:00:00 PM");
    EXPECT_EQ(f.TotalTime, "1d 2:00:00 PM");
    SetProcessTimeFields(start, EncodeDate(2026, 12, 10) + EncodeTime(0, 0, 0, 250), 0, 0, f);
    EXPECT_EQ(f.ShutdownTime, "12/10/2026");  // only milliseconds: the date alone
    EXPECT_EQ(f.KernelTime, "12:00:00 AM");
    EXPECT_EQ(FormatAlertDateTime(EncodeDate(2026, 1, 2)), "1/2/2026");
    EXPECT_EQ(FormatAlertDateTime(EncodeDate(2026, 1, 2) + EncodeTime(0, 0, 1, 0)),
              "1/2/2026 12:00:01 AM");
}

TEST(TemplateFields, MemoryCounters) {
    if (!EnglishUS())
        GTEST_SKIP() << "needs en-US separators (LC_ALL=C under Wine)";
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    counters.PageFaultCount = 1234567;
    counters.PeakWorkingSetSize = 1152;
    counters.QuotaPeakPagedPoolUsage = 0;
    counters.QuotaPeakNonPagedPoolUsage = 1048575;
    counters.PeakPagefileUsage = 5ull << 30;
    TTemplateFields f;
    SetMemoryFields(counters, f);
    EXPECT_EQ(f.PageFaultCount, "1,234,567");
    EXPECT_EQ(f.PeakWorkingSetSize, "1.13K");
    EXPECT_EQ(f.PeakPagedPool, "0 B");
    EXPECT_EQ(f.PeakNonPagedPool, "1,024K");
    EXPECT_EQ(f.PeakPagefile, "5.00G");
}
