#include "BWSysInfo.h"

#include <windows.h>
#include <lm.h>

#include "rtl/SysUtils.h"

bool GetLocalComputerName(std::string& name) {
    name.assign(512, '\0');
    DWORD size = 512;
    if (!GetComputerNameA(&name[0], &size)) {
        name.clear();
        return false;
    }
    // The reported count leaves out the terminating zero.
    name.resize(size);
    return true;
}

bool GetWorkgroupName(std::string& name) {
    LPBYTE buffer = nullptr;
    NET_API_STATUS status = NetWkstaGetInfo(nullptr, 102, &buffer);
    if (status != NERR_Success) {
        // No buffer was handed out, so there is nothing to free.
        name.clear();
        return false;
    }
    const wchar_t* group = reinterpret_cast<WKSTA_INFO_102*>(buffer)->wki102_langroup;
    name = group != nullptr ? AnsiFromWide(group, lstrlenW(group)) : std::string();
    NetApiBufferFree(buffer);
    return true;
}

TBootTimeSources PlatformBootTimeSources() {
    TBootTimeSources s;
    s.QueryCounter = [](int64_t& counter) {
        LARGE_INTEGER v;
        if (!QueryPerformanceCounter(&v))
            return false;
        counter = v.QuadPart;
        return true;
    };
    s.QueryFrequency = [](int64_t& frequency) {
        LARGE_INTEGER v;
        if (!QueryPerformanceFrequency(&v))
            return false;
        frequency = v.QuadPart;
        return true;
    };
    s.TickCount = [] { return static_cast<uint32_t>(GetTickCount()); };
    s.Now = [] { return Now(); };
    return s;
}

TDateTime GetBootTime(const TBootTimeSources& sources) {
    long double uptimeDays;
    int64_t counter = 0;
    int64_t frequency = 0;
    // The frequency is read only once the counter answered; a zero frequency
    // counts as a missing counter rather than a division by zero.
    if (sources.QueryCounter(counter) && sources.QueryFrequency(frequency) && frequency != 0) {
        int64_t seconds = counter / frequency;
        uptimeDays = static_cast<long double>(seconds) / 86400.0L;
    } else {
        // Wraps every 2^32 ms (about 49.7 days); only its current value counts.
        uptimeDays = static_cast<long double>(sources.TickCount()) / 86400000.0L;
    }
    return static_cast<TDateTime>(static_cast<long double>(sources.Now()) - uptimeDays);
}

TDateTime GetBootTime() {
    static const TBootTimeSources platform = PlatformBootTimeSources();
    return GetBootTime(platform);
}
