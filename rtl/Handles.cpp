#include "rtl/Handles.h"

#include <windows.h>

namespace {

// Puts the thread's last error back as it was when the guard was made.
struct TKeepLastError {
    const DWORD Error = GetLastError();
    ~TKeepLastError() { SetLastError(Error); }
};

}  // namespace

void TKernelHandleTraits::Close(Handle h) noexcept { TKeepLastError keep; CloseHandle(h); }
void TServiceHandleTraits::Close(Handle h) noexcept { TKeepLastError keep; CloseServiceHandle(h); }
void TRegKeyTraits::Close(Handle h) noexcept { TKeepLastError keep; RegCloseKey(h); }
void TLocalMemoryTraits::Close(Handle h) noexcept { TKeepLastError keep; LocalFree(h); }
