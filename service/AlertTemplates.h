// Alert mail templates and the values that fill them.
//
// A template is a "TEXT" resource of twsvc (CR LF after every line) with
// placeholders such as "<%COMPUTERNAME%>". TTemplateFields holds the values
// of one alert about a watched service or program, TTarnwickTemplateFields
// those of an alert about the monitor itself or a Windows shutdown. The same
// values are the inserts of the event-log entries (see twmessages.h).
#pragma once

#include <cstdint>
#include <string>

#include "rtl/DateUtils.h"

struct _SERVICE_STATUS;
struct _PROCESS_MEMORY_COUNTERS;
class TMonitoredProcessBase;
class TMonitoredService;

// Resource type and names of the templates.
constexpr const char* TEMPLATE_RESOURCE_TYPE = "TEXT";
constexpr const char* TEMPLATE_TARNWICK_STARTUP = "TarnwickStartupMsg";
constexpr const char* TEMPLATE_TARNWICK_SHUTDOWN = "TarnwickShutdownMsg";
constexpr const char* TEMPLATE_WINDOWS_SHUTDOWN = "WindowsShutdownMsg";
constexpr const char* TEMPLATE_SERVICE_STARTUP = "ServiceStartupMsg";
constexpr const char* TEMPLATE_SERVICE_SHUTDOWN = "ServiceShutdownMsg";
constexpr const char* TEMPLATE_PROCESS_STARTUP = "ProcessStartupMsg";
constexpr const char* TEMPLATE_PROCESS_SHUTDOWN = "ProcessShutdownMsg";

// Filled by the start handler after FillTarnwickTemplate, in this order.
constexpr const char* PLACEHOLDER_SERVICELIST = "<%SERVICELIST%>";
constexpr const char* PLACEHOLDER_PROCESSLIST = "<%PROCESSLIST%>";

// One field per placeholder, in the order FillTemplate replaces them. Created
// empty for each alert; a field whose query failed stays empty.
struct TTemplateFields {
    std::string ComputerName;             // <%COMPUTERNAME%>
    std::string CurrentTime;              // <%CURRENTTIME%>
    std::string DisplayName;              // <%DISPLAYNAME%>
    std::string ServiceName;              // <%SERVICENAME%>
    std::string Win32ExitCode;            // <%WIN32EXITCODE%>
    std::string Win32ExitCodeStr;         // <%WIN32EXITCODESTR%>
    std::string ServiceSpecificExitCode;  // <%SERVICESPECIFICEXITCODE%>
    std::string ProcessName;              // <%PROCESSNAME%>
    std::string OwnerUserName;            // <%OWNERUSERNAME%>
    std::string ShortProcessName;         // <%SHORTPROCESSNAME%>
    std::string ProcessExitCode;          // <%PROCESSEXITCODE%>
    std::string ProcessInstanceCount;     // <%PROCESSINSTANCECOUNT%>
    std::string StartTime;                // <%STARTTIME%>
    std::string ShutdownTime;             // <%SHUTDOWNTIME%>
    std::string KernelTime;               // <%KERNELTIME%>
    std::string UserTime;                 // <%USERTIME%>
    std::string TotalTime;                // <%TOTALTIME%>
    std::string PageFaultCount;           // <%PAGEFAULTCOUNT%>
    std::string PeakWorkingSetSize;       // <%PEAKWORKINGSETSIZE%>
    std::string PeakPagedPool;            // <%PEAKPAGEDPOOL%>
    std::string PeakNonPagedPool;         // <%PEAKNONPAGEDPOOL%>
    std::string PeakPagefile;             // <%PEAKPAGEFILE%>
};

struct TTarnwickTemplateFields {
    std::string ComputerName;  // <%COMPUTERNAME%>
    std::string CurrentTime;   // <%CURRENTTIME%>
    std::string BootTime;      // <%BOOTTIME%>
};

// Replaces every occurrence of placeholder, compared without regard to ASCII
// case, scanning left to right; an inserted value is not scanned again.
std::string ReplacePlaceholder(const std::string& text, const std::string& placeholder,
                               const std::string& value);

// One ReplacePlaceholder pass per field, in record order, each on the result
// of the one before (so a value may hold a placeholder of a later field, and
// that one is filled too). Unknown placeholders stay.
std::string FillTemplate(const std::string& templateText, TTemplateFields fields);
std::string FillTarnwickTemplate(const std::string& templateText,
                                 TTarnwickTemplateFields fields);

// "GROUP\NAME"; "UNKNOWN" stands for a name that could not be read, and
// without a workgroup (or domain) the name stands alone.
std::string QualifiedComputerName(bool nameRead, const std::string& name, bool groupRead,
                                  const std::string& group);

// Regional short date, a blank and the long time; only the date when hours,
// minutes and seconds are all zero.
std::string FormatAlertDateTime(TDateTime value);

// The file-name part of an image path: what follows the last '\' or ':'.
std::string ShortProcessName(const std::string& imagePath);

// Win32ExitCode, Win32ExitCodeStr ("No Error" for 0, else the system's text
// for the code) and ServiceSpecificExitCode from a service status.
void SetServiceStatusFields(const _SERVICE_STATUS& status, TTemplateFields& fields);

// StartTime, ShutdownTime ("Still running" for an exit time of 0.0) and the
// three durations. Creation and exit time are taken as given (UTC from the
// process times); kernel and user time are spans in days.
void SetProcessTimeFields(TDateTime creationTime, TDateTime exitTime, double kernelTime,
                          double userTime, TTemplateFields& fields);

// PageFaultCount (thousands grouped) and the four peak sizes as byte sizes.
void SetMemoryFields(const _PROCESS_MEMORY_COUNTERS& counters, TTemplateFields& fields);

// The computer's name qualified with its workgroup or domain, as read now.
std::string GatherComputerName();

// The values of an alert about the monitor itself: computer, local time now
// and local boot time.
void GatherTarnwickTemplateFields(TTarnwickTemplateFields& fields);

// The values of an alert about a watched service or program. fields is
// emptied first. process (a watched program or a service's process), service
// and status may each be null; without service fields 3-7 stay empty, without
// status 5-7, without process 8-22; times and memory figures stay empty when
// they cannot be read. count is the instance count shown. A failed query
// leaves its field empty; an exception from opening the service control
// manager (for the display name) passes to the caller.
void GatherTemplateFields(const TMonitoredProcessBase* process, const TMonitoredService* service,
                          const _SERVICE_STATUS* status, int count, TTemplateFields& fields);
