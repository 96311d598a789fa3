#include "rtl/Handles.h"

#include <windows.h>

namespace {

// Runs close, then puts the thread's last error back as it was.
template <class F>
void KeepingLastError(F close) {
    const DWORD error = GetLastError();
    close();
    SetLastError(error);
}

}  // namespace

void TKernelHandleTraits::Close(Handle h) noexcept {
    KeepingLastError([h] { CloseHandle(h); });
}

void TServiceHandleTraits::Close(Handle h) noexcept {
    KeepingLastError([h] { CloseServiceHandle(h); });
}

void TRegKeyTraits::Close(Handle h) noexcept {
    KeepingLastError([h] { RegCloseKey(h); });
}

void TLocalMemoryTraits::Close(Handle h) noexcept {
    KeepingLastError([h] { LocalFree(h); });
}
