// Counting the handles open in the test process, to show that create/free
// cycles leak none.
#pragma once

#include <windows.h>

// GetProcessHandleCount where the system answers it; Wine answers 0, so
// there every handle value is probed instead (handle values are multiples of
// 4; the probe range covers far more handles than a test process holds).
inline unsigned long CountOpenHandles() {
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count != 0)
        return count;
    DWORD flags = 0;
    for (ULONG_PTR value = 4; value < 0x4000; value += 4)
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags))
            ++count;
    return count;
}
