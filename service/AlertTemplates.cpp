#include "AlertTemplates.h"

#include <windows.h>
#include <psapi.h>

#include "lib/BWDateTimeUtils.h"
#include "lib/BWStringUtils.h"
#include "lib/BWSysInfo.h"
#include "rtl/SysUtils.h"
#include "service/TarnwickRuntimeConfig.h"
#include "win32/ServiceControl.h"

namespace {

char UpperAZ(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool MatchesAt(const std::string& text, size_t pos, const std::string& placeholder) {
    if (text.size() - pos < placeholder.size())
        return false;
    for (size_t i = 0; i < placeholder.size(); ++i)
        if (UpperAZ(text[pos + i]) != UpperAZ(placeholder[i]))
            return false;
    return true;
}

std::string UnsignedText(std::uint32_t value) {
    return std::to_string(value);
}

}  // namespace

std::string ReplacePlaceholder(const std::string& text, const std::string& placeholder,
                               const std::string& value) {
    if (placeholder.empty())
        return text;
    std::string result;
    size_t pos = 0;
    while (pos < text.size()) {
        if (MatchesAt(text, pos, placeholder)) {
            result += value;
            pos += placeholder.size();
        } else {
            result += text[pos++];
        }
    }
    return result;
}

std::string FillTemplate(const std::string& templateText, TTemplateFields fields) {
    const std::pair<const char*, const std::string*> passes[] = {
        {"<%COMPUTERNAME%>", &fields.ComputerName},
        {"<%CURRENTTIME%>", &fields.CurrentTime},
        {"<%DISPLAYNAME%>", &fields.DisplayName},
        {"<%SERVICENAME%>", &fields.ServiceName},
        {"<%WIN32EXITCODE%>", &fields.Win32ExitCode},
        {"<%WIN32EXITCODESTR%>", &fields.Win32ExitCodeStr},
        {"<%SERVICESPECIFICEXITCODE%>", &fields.ServiceSpecificExitCode},
        {"<%PROCESSNAME%>", &fields.ProcessName},
        {"<%OWNERUSERNAME%>", &fields.OwnerUserName},
        {"<%SHORTPROCESSNAME%>", &fields.ShortProcessName},
        {"<%PROCESSEXITCODE%>", &fields.ProcessExitCode},
        {"<%PROCESSINSTANCECOUNT%>", &fields.ProcessInstanceCount},
        {"<%STARTTIME%>", &fields.StartTime},
        {"<%SHUTDOWNTIME%>", &fields.ShutdownTime},
        {"<%KERNELTIME%>", &fields.KernelTime},
        {"<%USERTIME%>", &fields.UserTime},
        {"<%TOTALTIME%>", &fields.TotalTime},
        {"<%PAGEFAULTCOUNT%>", &fields.PageFaultCount},
        {"<%PEAKWORKINGSETSIZE%>", &fields.PeakWorkingSetSize},
        {"<%PEAKPAGEDPOOL%>", &fields.PeakPagedPool},
        {"<%PEAKNONPAGEDPOOL%>", &fields.PeakNonPagedPool},
        {"<%PEAKPAGEFILE%>", &fields.PeakPagefile},
    };
    std::string text = templateText;
    for (const auto& pass : passes)
        text = ReplacePlaceholder(text, pass.first, *pass.second);
    return text;
}

std::string FillTarnwickTemplate(const std::string& templateText,
                                 TTarnwickTemplateFields fields) {
    std::string text = ReplacePlaceholder(templateText, "<%COMPUTERNAME%>", fields.ComputerName);
    text = ReplacePlaceholder(text, "<%CURRENTTIME%>", fields.CurrentTime);
    return ReplacePlaceholder(text, "<%BOOTTIME%>", fields.BootTime);
}

std::string QualifiedComputerName(bool nameRead, const std::string& name, bool groupRead,
                                  const std::string& group) {
    std::string computer = nameRead ? name : std::string("UNKNOWN");
    return groupRead ? group + "\\" + computer : computer;
}

std::string FormatAlertDateTime(TDateTime value) {
    int year, month, day, hour, min, sec, msec;
    DecodeDateTime(value, year, month, day, hour, min, sec, msec);
    if (hour == 0 && min == 0 && sec == 0)
        return DateToStr(value);
    return DateToStr(value) + " " + TimeToStr(value);
}

std::string ShortProcessName(const std::string& imagePath) {
    return ExtractFileName(imagePath);
}

void SetServiceStatusFields(const SERVICE_STATUS& status, TTemplateFields& fields) {
    fields.Win32ExitCode = UnsignedText(status.dwWin32ExitCode);
    fields.Win32ExitCodeStr =
        status.dwWin32ExitCode == 0 ? std::string("No Error") : SystemErrorText(status.dwWin32ExitCode);
    fields.ServiceSpecificExitCode = UnsignedText(status.dwServiceSpecificExitCode);
}

void SetProcessTimeFields(TDateTime creationTime, TDateTime exitTime, double kernelTime,
                          double userTime, TTemplateFields& fields) {
    fields.StartTime = FormatAlertDateTime(creationTime);
    fields.ShutdownTime = exitTime == 0.0 ? std::string("Still running")
                                          : FormatAlertDateTime(exitTime);
    fields.KernelTime = FormatDuration(kernelTime);
    fields.UserTime = FormatDuration(userTime);
    fields.TotalTime = FormatDuration(kernelTime + userTime);
}

void SetMemoryFields(const PROCESS_MEMORY_COUNTERS& counters, TTemplateFields& fields) {
    // The sizes are SIZE_T, 64-bit here: passed whole, so a peak above 4 GB
    // is not shown modulo 4 GB.
    fields.PageFaultCount = FormatGrouped(counters.PageFaultCount, 0);
    fields.PeakWorkingSetSize = FormatByteSize(counters.PeakWorkingSetSize);
    fields.PeakPagedPool = FormatByteSize(counters.QuotaPeakPagedPoolUsage);
    fields.PeakNonPagedPool = FormatByteSize(counters.QuotaPeakNonPagedPoolUsage);
    fields.PeakPagefile = FormatByteSize(counters.PeakPagefileUsage);
}

std::string GatherComputerName() {
    std::string name, group;
    bool nameRead = GetLocalComputerName(name);
    bool groupRead = GetWorkgroupName(group);
    return QualifiedComputerName(nameRead, name, groupRead, group);
}

void GatherTarnwickTemplateFields(TTarnwickTemplateFields& fields) {
    fields.ComputerName = GatherComputerName();
    fields.CurrentTime = FormatAlertDateTime(Now());
    fields.BootTime = FormatAlertDateTime(GetBootTime());
}

void GatherTemplateFields(const TMonitoredProcessBase* process, const TMonitoredService* service,
                          const SERVICE_STATUS* status, int count, TTemplateFields& fields) {
    fields = TTemplateFields();
    fields.ComputerName = GatherComputerName();
    fields.CurrentTime = FormatAlertDateTime(Now());

    if (service != nullptr) {
        TSCServiceConfig info;
        if (service->GetConfigInfo(info))
            fields.DisplayName = info.DisplayName;
        fields.ServiceName = service->Config()->ServiceName;
        if (status != nullptr)
            SetServiceStatusFields(*status, fields);
    }

    if (process == nullptr)
        return;
    fields.ProcessName = process->ImagePath();
    fields.OwnerUserName = process->GetOwnerName();
    fields.ShortProcessName = ShortProcessName(process->ImagePath());
    fields.ProcessExitCode = UnsignedText(process->GetExitCode());
    fields.ProcessInstanceCount = IntToStr(count);

    TDateTime creationTime = 0, exitTime = 0;
    double kernelTime = 0, userTime = 0;
    if (process->GetTimes(creationTime, exitTime, kernelTime, userTime))
        SetProcessTimeFields(creationTime, exitTime, kernelTime, userTime, fields);

    PROCESS_MEMORY_COUNTERS counters{};
    if (process->GetMemoryCounters(counters))
        SetMemoryFields(counters, fields);
}
