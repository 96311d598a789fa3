#include "ServiceStatusEnumerator.h"

#include <cstdint>
#include <cstring>
#include <new>

bool ServiceBatchReadable(BOOL ok, DWORD error, DWORD returned, DWORD bufferSize) {
    return (ok || error == ERROR_MORE_DATA) &&
           static_cast<size_t>(returned) * sizeof(ENUM_SERVICE_STATUSA) <= bufferSize;
}

bool InsideServiceBatch(const char* text, const void* buffer, DWORD bufferSize) {
    uintptr_t begin = reinterpret_cast<uintptr_t>(buffer);
    uintptr_t at = reinterpret_cast<uintptr_t>(text);
    return at >= begin && at < begin + bufferSize;
}

bool LastServiceBatch(BOOL ok, DWORD needed, DWORD resumeBefore, DWORD resumeAfter) {
    return ok || needed == 0 || resumeAfter == resumeBefore;
}

TServiceStatusEnumerator::~TServiceStatusEnumerator() {
    if (FActive)
        Close();
}

bool TServiceStatusEnumerator::Open() {
    if (FActive)
        return false;
    FSCManager.Reset(OpenSCManagerA(nullptr, nullptr, GENERIC_READ));
    if (!FSCManager)
        return false;
    FBufferSize = DefaultBufferSize;
    // ENUM_SERVICE_STATUSA holds pointers: the buffer must be aligned for
    // them, which operator new guarantees.
    FBuffer = new (std::nothrow) BYTE[FBufferSize];
    if (FBuffer == nullptr) {
        FSCManager.Reset();
        return false;
    }
    FResumeHandle = 0;
    FIndex = 0;
    FCount = 0;
    FCurrent = nullptr;
    FLastBatch = false;
    FActive = true;
    return true;
}

bool TServiceStatusEnumerator::Next() {
    if (!FActive)
        return false;
    ENUM_SERVICE_STATUSA* entries = reinterpret_cast<ENUM_SERVICE_STATUSA*>(FBuffer);
    if (FCurrent != nullptr) {
        ++FIndex;
        if (FIndex < FCount) {
            FCurrent = entries + FIndex;
            return true;
        }
    }
    // The batch is used up (or none was fetched yet).
    FCurrent = nullptr;
    if (FLastBatch)
        return false;
    // Cleared first, so that an entry the call did not fill shows as such.
    std::memset(FBuffer, 0, FBufferSize);
    DWORD needed = 0;
    DWORD returned = 0;
    DWORD resumeBefore = FResumeHandle;
    BOOL ok = FetchBatch(FSCManager.Get(), entries, FBufferSize, needed, returned,
                                 FResumeHandle);
    DWORD error = ok ? ERROR_SUCCESS : GetLastError();
    // Entries that do not all hold a name inside the buffer are not read,
    // and the walk ends there.
    if (!ServiceBatchReadable(ok, error, returned, FBufferSize) || returned == 0 ||
        !EntriesValid(entries, returned)) {
        FCount = 0;
        FIndex = 0;
        FLastBatch = true;
        return false;
    }
    FCount = returned;
    FIndex = 0;
    FLastBatch = LastServiceBatch(ok, needed, resumeBefore, FResumeHandle);
    FCurrent = entries;
    return true;
}

bool TServiceStatusEnumerator::EntriesValid(const ENUM_SERVICE_STATUSA* entries,
                                            DWORD count) const {
    for (DWORD i = 0; i < count; ++i)
        if (!InsideServiceBatch(entries[i].lpServiceName, FBuffer, FBufferSize))
            return false;
    return true;
}

void TServiceStatusEnumerator::Close() {
    if (!FActive)
        return;
    FSCManager.Reset();
    delete[] FBuffer;
    FBuffer = nullptr;
    FCurrent = nullptr;
    FCount = 0;
    FIndex = 0;
    FActive = false;
}

BOOL TServiceStatusEnumerator::FetchBatch(SC_HANDLE manager,
                                                  LPENUM_SERVICE_STATUSA buffer,
                                                  DWORD bufferSize, DWORD& bytesNeeded,
                                                  DWORD& returned, DWORD& resumeHandle) {
    return EnumServicesStatusA(manager, SERVICE_WIN32, SERVICE_STATE_ALL, buffer, bufferSize,
                               &bytesNeeded, &returned, &resumeHandle);
}
