// The computer's name, its workgroup or domain, and the moment it was started.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "rtl/DateUtils.h"

// Both return True and the name on success; on failure an empty name and
// False (the platform's error code is not passed on, nothing is raised).
bool GetLocalComputerName(std::string& name);
// The workgroup, or the domain on a computer that is a domain member.
bool GetWorkgroupName(std::string& name);

// Local date and time at which the machine was started. The uptime comes
// from the performance counter in whole seconds (the remainder is dropped),
// or, when the counter is missing, from the tick count in milliseconds.
TDateTime GetBootTime();

// The clocks GetBootTime reads. A test hands in its own to compute a boot
// time from chosen counter values and a fixed "now".
struct TBootTimeSources {
    std::function<bool(int64_t& counter)> QueryCounter;
    std::function<bool(int64_t& frequency)> QueryFrequency;
    std::function<uint32_t()> TickCount;
    std::function<TDateTime()> Now;
};

// The platform's clocks: QueryPerformanceCounter/-Frequency, GetTickCount, Now.
TBootTimeSources PlatformBootTimeSources();

TDateTime GetBootTime(const TBootTimeSources& sources);
