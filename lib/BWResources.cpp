#include "BWResources.h"

#include <windows.h>

#include "BWStringUtils.h"
#include "rtl/SysUtils.h"

// The image this code is linked into; GetModuleHandle(nullptr) would name the
// program even if this unit ended up in a library.
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

[[noreturn]] void RaiseResourceError() {
    DWORD code = GetLastError();
    // An empty resource is a failure that sets no error code; the system's
    // text for 0 ("The operation completed successfully") would report it as
    // a success.
    if (code == ERROR_SUCCESS)
        code = ERROR_INVALID_DATA;
    throw Exception(SystemErrorText(code));
}

}  // namespace

const void* GetResourceData(const char* name, const char* type, int& size) {
    HMODULE module = reinterpret_cast<HMODULE>(&__ImageBase);
    HRSRC found = FindResourceA(module, name, type);
    if (found == nullptr)
        RaiseResourceError();
    SetLastError(ERROR_SUCCESS);
    size = static_cast<int>(SizeofResource(module, found));
    if (size == 0)
        RaiseResourceError();
    HGLOBAL loaded = LoadResource(module, found);
    if (loaded == nullptr)
        RaiseResourceError();
    const void* data = LockResource(loaded);
    if (data == nullptr)
        RaiseResourceError();
    return data;
}

std::string GetResourceString(const std::string& name, const std::string& type) {
    int size = 0;
    const void* data = GetResourceData(name.c_str(), type.c_str(), size);
    return std::string(static_cast<const char*>(data), static_cast<size_t>(size));
}
