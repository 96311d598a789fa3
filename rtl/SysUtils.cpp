#include "SysUtils.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "Handles.h"

Exception::Exception(std::string message, int helpContext)
    : FMessage(std::move(message)), FHelpContext(helpContext) {}

Exception::~Exception() = default;

std::string SysErrorMessage(unsigned long errorCode) {
    char* buffer = nullptr;
    DWORD len = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                   FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                               nullptr, errorCode, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
    TLocalMemory owned(buffer);
    std::string text;
    if (buffer != nullptr)
        text.assign(buffer, len);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ')
        text.pop_back();
    return text;
}

void RaiseLastOSError() {
    RaiseLastOSError(GetLastError());
}

void RaiseLastOSError(unsigned long errorCode) {
    if (errorCode != 0)
        throw EOSError(Format("System Error.  Code: %d.\r\n%s", static_cast<int>(errorCode),
                              SysErrorMessage(errorCode).c_str()),
                       errorCode);
    throw EOSError("A call to an OS function failed", 0);
}

std::string Format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    va_list copy;
    va_copy(copy, args);
    int needed = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::string result;
    if (needed > 0) {
        std::vector<char> buffer(static_cast<size_t>(needed) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), fmt, args);
        result.assign(buffer.data(), static_cast<size_t>(needed));
    }
    va_end(args);
    return result;
}

std::string IntToStr(long long value) {
    return Format("%lld", value);
}

std::string LowerCaseAZ(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::string ExtractFileName(const std::string& path) {
    size_t delimiter = path.find_last_of("\\:");
    return delimiter == std::string::npos ? path : path.substr(delimiter + 1);
}

std::string ProgramPath() {
    std::string path(MAX_PATH, '\0');
    for (;;) {
        DWORD n = GetModuleFileNameA(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (n == 0)
            return std::string();
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

std::string Trim(const std::string& s) {
    size_t first = 0, last = s.size();
    while (first < last && static_cast<unsigned char>(s[first]) <= ' ')
        ++first;
    while (last > first && static_cast<unsigned char>(s[last - 1]) <= ' ')
        --last;
    return s.substr(first, last - first);
}

std::string AnsiFromWide(const wchar_t* Text, int Count) {
    int size = Count > 0 ? WideCharToMultiByte(CP_ACP, 0, Text, Count, nullptr, 0, nullptr, nullptr)
                         : 0;
    std::string result(size > 0 ? static_cast<size_t>(size) : 0, '\0');
    if (size > 0)
        WideCharToMultiByte(CP_ACP, 0, Text, Count, &result[0], size, nullptr, nullptr);
    return result;
}

std::wstring WideFromAnsi(const std::string& Text) {
    const int count = static_cast<int>(Text.size());
    int size = count > 0 ? MultiByteToWideChar(CP_ACP, 0, Text.data(), count, nullptr, 0) : 0;
    std::wstring result(size > 0 ? static_cast<size_t>(size) : 0, L'\0');
    if (size > 0)
        MultiByteToWideChar(CP_ACP, 0, Text.data(), count, &result[0], size);
    return result;
}
