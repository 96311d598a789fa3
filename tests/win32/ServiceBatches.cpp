#include "ServiceBatches.h"

#include <cstring>

std::vector<TListedService> ListAllServices() {
    std::vector<TListedService> result;
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, GENERIC_READ);
    if (manager == nullptr)
        return result;
    std::vector<BYTE> buffer(256 * 1024);
    DWORD needed = 0, returned = 0, resume = 0;
    if (EnumServicesStatusA(manager, SERVICE_WIN32, SERVICE_STATE_ALL,
                            reinterpret_cast<LPENUM_SERVICE_STATUSA>(buffer.data()),
                            static_cast<DWORD>(buffer.size()), &needed, &returned, &resume)) {
        auto* e = reinterpret_cast<ENUM_SERVICE_STATUSA*>(buffer.data());
        for (DWORD i = 0; i < returned; ++i)
            result.push_back({e[i].lpServiceName, e[i].lpDisplayName ? e[i].lpDisplayName : "",
                              e[i].ServiceStatus});
    }
    CloseServiceHandle(manager);
    return result;
}

BOOL TCountingEnumerator::FetchBatch(SC_HANDLE manager, LPENUM_SERVICE_STATUSA buffer,
                                             DWORD bufferSize, DWORD& bytesNeeded,
                                             DWORD& returned, DWORD& resumeHandle) {
    ++Calls;
    if (Answer)
        return Answer(buffer, bufferSize, bytesNeeded, returned, resumeHandle);
    return TServiceStatusEnumerator::FetchBatch(manager, buffer, bufferSize,
                                                        bytesNeeded, returned, resumeHandle);
}

BOOL AnswerInBatches(const std::vector<TListedService>& list, LPENUM_SERVICE_STATUSA buffer,
                     DWORD bufferSize, DWORD& bytesNeeded, DWORD& returned,
                     DWORD& resumeHandle) {
    auto sizeOf = [](const TListedService& s) {
        return sizeof(ENUM_SERVICE_STATUSA) + s.Name.size() + 1 + s.DisplayName.size() + 1;
    };
    size_t i = resumeHandle;
    size_t used = 0;
    size_t count = 0;
    while (i + count < list.size() && used + sizeOf(list[i + count]) <= bufferSize) {
        used += sizeOf(list[i + count]);
        ++count;
    }
    // Entries first, then their strings.
    char* strings = reinterpret_cast<char*>(buffer + count);
    for (size_t k = 0; k < count; ++k) {
        const TListedService& s = list[i + k];
        buffer[k].lpServiceName = strings;
        std::memcpy(strings, s.Name.c_str(), s.Name.size() + 1);
        strings += s.Name.size() + 1;
        buffer[k].lpDisplayName = strings;
        std::memcpy(strings, s.DisplayName.c_str(), s.DisplayName.size() + 1);
        strings += s.DisplayName.size() + 1;
        buffer[k].ServiceStatus = s.Status;
    }
    returned = static_cast<DWORD>(count);
    size_t next = i + count;
    if (next < list.size()) {
        size_t rest = 0;
        for (size_t k = next; k < list.size(); ++k)
            rest += sizeOf(list[k]);
        bytesNeeded = static_cast<DWORD>(rest);
        resumeHandle = static_cast<DWORD>(next);
        SetLastError(ERROR_MORE_DATA);
        return FALSE;
    }
    bytesNeeded = 0;
    resumeHandle = 0;
    return TRUE;
}
