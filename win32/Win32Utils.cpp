#include "Win32Utils.h"

#include <psapi.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "rtl/Handles.h"

TDateTime FileTimeToDateTime(const FILETIME& fileTime) {
    if (fileTime.dwLowDateTime == 0 && fileTime.dwHighDateTime == 0)
        return 0.0;
    SYSTEMTIME st;
    if (!FileTimeToSystemTime(&fileTime, &st))
        return 0.0;
    TDateTime date, time;
    if (!TryEncodeDate(st.wYear, st.wMonth, st.wDay, date) ||
        !TryEncodeTime(st.wHour, st.wMinute, st.wSecond, st.wMilliseconds, time))
        return 0.0;
    return date >= 0 ? date + time : date - time;
}

std::string GetLongFileName(const std::string& fileName) {
    char buffer[MAX_PATH];
    DWORD n = GetLongPathNameA(fileName.c_str(), buffer, MAX_PATH);
    // 0 is a failure; MAX_PATH or more is the size the long form would need.
    if (n == 0 || n >= MAX_PATH)
        return fileName;
    return std::string(buffer, n);
}

std::string GetTokenOwnerName(HANDLE token) {
    std::vector<BYTE> info(2);
    DWORD length = 0;
    if (!GetTokenInformation(token, TokenOwner, info.data(), static_cast<DWORD>(info.size()),
                             &length)) {
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || length == 0)
            return std::string();
        info.resize(length);
        if (!GetTokenInformation(token, TokenOwner, info.data(),
                                 static_cast<DWORD>(info.size()), &length))
            return std::string();
    }
    PSID owner = reinterpret_cast<TOKEN_OWNER*>(info.data())->Owner;

    std::string name(32, '\0');
    std::string domain(32, '\0');
    DWORD nameLength = 32;
    DWORD domainLength = 32;
    SID_NAME_USE use;
    if (!LookupAccountSidA(nullptr, owner, &name[0], &nameLength, &domain[0], &domainLength,
                           &use)) {
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            return std::string();
        // The call reports the sizes it needs, terminating zeros included; a
        // buffer that was large enough keeps at least its old size.
        if (nameLength < 32)
            nameLength = 32;
        if (domainLength < 32)
            domainLength = 32;
        name.assign(nameLength, '\0');
        domain.assign(domainLength, '\0');
        if (!LookupAccountSidA(nullptr, owner, &name[0], &nameLength, &domain[0],
                               &domainLength, &use))
            return std::string();
    }
    // On success Windows reports the lengths without the terminating zeros;
    // Wine counts them, so cut at the first zero inside the reported length.
    name.resize(strnlen(name.c_str(), std::min<size_t>(nameLength, name.size())));
    domain.resize(strnlen(domain.c_str(), std::min<size_t>(domainLength, domain.size())));
    return domain + "\\" + name;
}

bool GetProcessImagePath(HANDLE process, std::string& imagePath) {
    // Room for one module: the first one listed is the executable, and the
    // call succeeds even when the process has more.
    HMODULE module = nullptr;
    DWORD needed = 0;
    if (!EnumProcessModules(process, &module, sizeof module, &needed))
        return false;
    char buffer[MAX_PATH];
    DWORD n = GetModuleFileNameExA(process, module, buffer, MAX_PATH);
    // A name cut to the buffer may come back with its terminating zero
    // counted; take the characters only.
    imagePath.assign(buffer, strnlen(buffer, n));
    return true;
}

bool EnablePrivilege(const std::string& privilegeName, bool enable) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return false;
    TKernelHandle owned(token);
    bool result = false;
    TOKEN_PRIVILEGES privileges{};
    if (LookupPrivilegeValueA(nullptr, privilegeName.c_str(), &privileges.Privileges[0].Luid)) {
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;
        TOKEN_PRIVILEGES previous{};
        DWORD returned = 0;
        result = AdjustTokenPrivileges(token, FALSE, &privileges, sizeof privileges, &previous,
                                       &returned) != FALSE;
    }
    return result;
}
