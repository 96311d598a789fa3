#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <regex>
#include <string>

#include "lib/BWResources.h"
#include "lib/BWStringUtils.h"
#include "service/AlertTemplates.h"
#include "service/TarnwickRuntimeConfig.h"
#include "tests/win32/TestChild.h"

// Field gathering from the running system and from real objects: a tw_child
// process (it exits with a chosen code when its event is set) and a service
// of the Wine prefix.

namespace {

std::string TestDir() {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path, n);
    return dir.substr(0, dir.find_last_of('\\') + 1);
}

using TChild = TTestChild;

bool EnglishUS() {
    char buffer[64];
    int n = GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STIMEFORMAT, buffer, sizeof buffer);
    return n > 0 && std::string(buffer, n - 1) == "h:mm:ss tt";
}

const std::regex kDateTime(R"(\d{1,2}/\d{1,2}/\d{4}( \d{1,2}:\d\d:\d\d [AP]M)?)");
const std::regex kDuration(R"((\d+d )?\d{1,2}:\d\d:\d\d [AP]M)");
const std::regex kByteSize(R"(0 B|\d{1,3}(,\d{3})*(\.\d{1,2})?[BKMG])");
const std::regex kCount(R"(\d{1,3}(,\d{3})*)");

}  // namespace

TEST(GatherTemplateFields, AnEndedChildProcessWithItsExitCodeTimesAndMemory) {
    if (!EnglishUS())
        GTEST_SKIP() << "needs en-US formats (LC_ALL=C under Wine)";
    TChild child(3);
    ASSERT_TRUE(child.Started());
    TProcessRuntimeConfig entry(TestDir() + "tw_child.exe", true, true);
    TMonitoredProcess process(&entry, child.Id());
    child.Finish();

    TTemplateFields f;
    f.DisplayName = "left over from an earlier alert";
    GatherTemplateFields(&process, nullptr, nullptr, 2, f);

    EXPECT_FALSE(f.ComputerName.empty());
    EXPECT_TRUE(std::regex_match(f.CurrentTime, kDateTime)) << f.CurrentTime;
    // No service: its fields stay empty.
    EXPECT_EQ(f.DisplayName, "");
    EXPECT_EQ(f.ServiceName, "");
    EXPECT_EQ(f.Win32ExitCode, "");
    EXPECT_EQ(f.Win32ExitCodeStr, "");
    EXPECT_EQ(f.ServiceSpecificExitCode, "");

    EXPECT_EQ(f.ProcessName, process.ImagePath());
    EXPECT_EQ(LowerCaseAZ(f.ShortProcessName), "tw_child.exe") << f.ProcessName;
    EXPECT_EQ(f.ProcessExitCode, "3");
    EXPECT_NE(f.OwnerUserName.find('\\'), std::string::npos) << f.OwnerUserName;
    EXPECT_EQ(f.ProcessInstanceCount, "2");
    EXPECT_TRUE(std::regex_match(f.StartTime, kDateTime)) << f.StartTime;
    EXPECT_TRUE(std::regex_match(f.ShutdownTime, kDateTime)) << f.ShutdownTime;
    EXPECT_TRUE(std::regex_match(f.KernelTime, kDuration)) << f.KernelTime;
    EXPECT_TRUE(std::regex_match(f.UserTime, kDuration)) << f.UserTime;
    EXPECT_TRUE(std::regex_match(f.TotalTime, kDuration)) << f.TotalTime;
    EXPECT_TRUE(std::regex_match(f.PageFaultCount, kCount)) << f.PageFaultCount;
    // Windows keeps the peak figures of an ended process; Wine answers zeros
    // once it has ended (the running case below sees the real figures).
    EXPECT_TRUE(std::regex_match(f.PeakWorkingSetSize, kByteSize)) << f.PeakWorkingSetSize;
    EXPECT_TRUE(std::regex_match(f.PeakPagedPool, kByteSize)) << f.PeakPagedPool;
    EXPECT_TRUE(std::regex_match(f.PeakNonPagedPool, kByteSize)) << f.PeakNonPagedPool;
    EXPECT_TRUE(std::regex_match(f.PeakPagefile, kByteSize)) << f.PeakPagefile;

    std::string mail = FillTemplate(GetResourceString(TEMPLATE_PROCESS_SHUTDOWN, "TEXT"), f);
    EXPECT_EQ(mail.find("<%"), std::string::npos) << mail;
    EXPECT_NE(mail.find("\r\nExit Code: 3\r\n"), std::string::npos) << mail;
    EXPECT_NE(mail.find("\r\nInstances:    2\r\n"), std::string::npos) << mail;
}

TEST(GatherTemplateFields, ARunningProcessIsStillRunningWithCode259) {
    if (!EnglishUS())
        GTEST_SKIP() << "needs en-US formats (LC_ALL=C under Wine)";
    TChild child(0);
    ASSERT_TRUE(child.Started());
    TProcessRuntimeConfig entry(TestDir() + "tw_child.exe", true, true);
    TMonitoredProcess process(&entry, child.Id());
    TTemplateFields f;
    GatherTemplateFields(&process, nullptr, nullptr, 1, f);
    EXPECT_EQ(f.ShutdownTime, "Still running");
    EXPECT_EQ(f.ProcessExitCode, "259");
    EXPECT_TRUE(std::regex_match(f.StartTime, kDateTime)) << f.StartTime;
    // A running process has a working set: figures with a unit letter.
    EXPECT_TRUE(std::regex_match(f.PeakWorkingSetSize, kByteSize)) << f.PeakWorkingSetSize;
    EXPECT_NE(f.PeakWorkingSetSize, "0 B");
    EXPECT_TRUE(std::regex_match(f.PageFaultCount, kCount)) << f.PageFaultCount;
}

TEST(GatherTemplateFields, AServiceWithoutProcessKeepsTheProcessFieldsEmpty) {
    // A service every Wine prefix runs; watched without a process object here.
    TServiceRuntimeConfig entry("plugplay", true, true, false);
    std::unique_ptr<TMonitoredService> service(new TMonitoredService(&entry));
    SERVICE_STATUS status{};
    status.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
    status.dwServiceSpecificExitCode = 42;

    TTemplateFields f;
    GatherTemplateFields(nullptr, service.get(), nullptr, 0, f);
    EXPECT_FALSE(f.DisplayName.empty()) << "no display name for PlugPlay";
    EXPECT_EQ(f.ServiceName, "plugplay");  // as configured, not as the manager spells it
    EXPECT_EQ(f.Win32ExitCode, "");
    EXPECT_EQ(f.Win32ExitCodeStr, "");

    GatherTemplateFields(nullptr, service.get(), &status, 0, f);
    EXPECT_EQ(f.Win32ExitCode, "1066");
    EXPECT_EQ(f.Win32ExitCodeStr, SystemErrorText(1066));
    EXPECT_EQ(f.ServiceSpecificExitCode, "42");
    for (const std::string* field :
         {&f.ProcessName, &f.OwnerUserName, &f.ShortProcessName, &f.ProcessExitCode,
          &f.ProcessInstanceCount, &f.StartTime, &f.ShutdownTime, &f.KernelTime, &f.UserTime,
          &f.TotalTime, &f.PageFaultCount, &f.PeakWorkingSetSize, &f.PeakPagedPool,
          &f.PeakNonPagedPool, &f.PeakPagefile})
        EXPECT_EQ(*field, "");
    // The template still shows the labels.
    std::string mail = FillTemplate(GetResourceString(TEMPLATE_SERVICE_SHUTDOWN, "TEXT"), f);
    EXPECT_NE(mail.find("\r\nProcess Name: \r\nOwner:        \r\n"), std::string::npos) << mail;

    TServiceRuntimeConfig missing("TwEvtNoSuchService", true, true, false);
    TMonitoredService gone(&missing);
    GatherTemplateFields(nullptr, &gone, nullptr, 0, f);
    EXPECT_EQ(f.DisplayName, "");
    EXPECT_EQ(f.ServiceName, "TwEvtNoSuchService");
}

TEST(GatherTarnwickTemplateFields, ComputerTimeAndBootTime) {
    if (!EnglishUS())
        GTEST_SKIP() << "needs en-US formats (LC_ALL=C under Wine)";
    TTarnwickTemplateFields f;
    GatherTarnwickTemplateFields(f);
    char name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = sizeof name;
    ASSERT_TRUE(GetComputerNameA(name, &size));
    // Wine answers the workgroup query, so the name comes qualified.
    EXPECT_EQ(f.ComputerName, GatherComputerName());
    const std::string suffix = "\\" + std::string(name, size);
    ASSERT_GT(f.ComputerName.size(), suffix.size());
    EXPECT_EQ(f.ComputerName.substr(f.ComputerName.size() - suffix.size()), suffix);
    EXPECT_TRUE(std::regex_match(f.CurrentTime, kDateTime)) << f.CurrentTime;
    EXPECT_TRUE(std::regex_match(f.BootTime, kDateTime)) << f.BootTime;
}
