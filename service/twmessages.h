// Event-log message identifiers and categories of the Tarnwick monitor.
//
// Their texts live in the message table of twmsgs.dll (messages/twmsgs.mc);
// keep both in step. An identifier is laid out as Windows message ids are:
// bits 31-30 severity, 29 customer flag, 28 reserved, 27-16 facility,
// 15-0 code. The event-log reporter writes the severity as the entry type and
// the facility as the category, so the facility numbers are the category
// numbers below.
#pragma once

#include <cstdint>

// Categories: messages of facility 0 whose identifiers are the numbers.
constexpr std::uint32_t CATEGORY_ALERT = 0x00000001;  // "Alert"
constexpr std::uint32_t CATEGORY_SMTP = 0x00000002;   // "SMTP"

// Informational entries, category "Alert". Inserts, in order:
// DisplayName, ServiceName, ProcessName, OwnerUserName, StartTime.
constexpr std::uint32_t MSG_SERVICE_STARTUP = 0x40010001;
// DisplayName, ServiceName, Win32ExitCode, Win32ExitCodeStr,
// ServiceSpecificExitCode, ProcessName, OwnerUserName, StartTime,
// ShutdownTime, KernelTime, UserTime, TotalTime, PageFaultCount,
// PeakWorkingSetSize, PeakPagedPool, PeakNonPagedPool, PeakPagefile.
constexpr std::uint32_t MSG_SERVICE_SHUTDOWN = 0x40010002;
// ShortProcessName, ProcessExitCode, ProcessName, OwnerUserName, StartTime,
// ShutdownTime, KernelTime, UserTime, TotalTime, ProcessInstanceCount,
// PageFaultCount, PeakWorkingSetSize, PeakPagedPool, PeakNonPagedPool,
// PeakPagefile.
constexpr std::uint32_t MSG_PROCESS_SHUTDOWN = 0x40010003;
// ShortProcessName, ProcessName, OwnerUserName, StartTime, ProcessInstanceCount.
constexpr std::uint32_t MSG_PROCESS_STARTUP = 0x40010004;
// CurrentTime, ComputerName, BootTime.
constexpr std::uint32_t MSG_MONITOR_STARTUP = 0x40010005;
// CurrentTime, ComputerName, BootTime.
constexpr std::uint32_t MSG_MONITOR_SHUTDOWN = 0x40010006;

// Error entry, category "SMTP". One insert: the failed recipients, each
// followed by CR LF.
constexpr std::uint32_t MSG_SMTP_SEND_FAILED = 0xC0020001;
