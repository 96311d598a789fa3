// Walks all Win32 services of the local machine with their current status,
// one entry at a time, fetched from the service control manager in batches
// through a fixed buffer.
#pragma once

#include <windows.h>

#include "rtl/Classes.h"
#include "rtl/Handles.h"

// Guards for one batch that EnumServicesStatusA wrote into a buffer of
// bufferSize bytes, for every reader of the service list. Wine may report a
// count from a failed call (also from one failing with ERROR_MORE_DATA) whose
// entries were never written: a batch is read only when the call succeeded or
// failed with ERROR_MORE_DATA and its count fits the buffer, and a string of
// an entry only when it lies inside the buffer.
bool ServiceBatchReadable(BOOL ok, DWORD error, DWORD returned, DWORD bufferSize);
bool InsideServiceBatch(const char* text, const void* buffer, DWORD bufferSize);
// No batch follows this one: a call that succeeded delivered everything that
// was left, and one that asks for more without moving the resume handle would
// only hand out this batch again (Wine's manager answers all or nothing).
bool LastServiceBatch(BOOL ok, DWORD needed, DWORD resumeBefore, DWORD resumeAfter);

// Open, then Next before every read of Current, until Next returns false;
// then Close (or free the enumerator). Nothing raises. A failed Open makes
// every Next return false, so a walk over it yields no entries. An entry and
// its strings stay valid only until the next batch is fetched or Close.
class TServiceStatusEnumerator : public TObject {
public:
    static constexpr DWORD DefaultBufferSize = 8192;

    TServiceStatusEnumerator() = default;
    ~TServiceStatusEnumerator() override;
    TServiceStatusEnumerator(const TServiceStatusEnumerator&) = delete;
    TServiceStatusEnumerator& operator=(const TServiceStatusEnumerator&) = delete;

    // Starts a new walk at the first service. False, changing nothing, while
    // a walk is active; false, staying inactive, when the manager cannot be
    // opened.
    bool Open();
    // Moves to the next entry, fetching the next batch when the current one
    // is used up; within a batch no platform call is made. False at the end
    // (and on every further call), when a fetch fails or brings no entry.
    // A failed fetch yields no entries even when it reports a count, unless
    // it failed with ERROR_MORE_DATA; a batch whose entries were not written
    // (no name inside the buffer) yields none either.
    bool Next();
    void Close();

    bool Active() const { return FActive; }
    // The entry the last successful Next reached.
    const ENUM_SERVICE_STATUSA* Current() const { return FCurrent; }
    DWORD Count() const { return FCount; }
    DWORD Index() const { return FIndex; }
    DWORD ResumeHandle() const { return FResumeHandle; }
    DWORD BufferSize() const { return FBufferSize; }
    // The last fetch reported that no further entries remain.
    bool LastBatch() const { return FLastBatch; }

protected:
    // The batch call: EnumServicesStatusA for Win32 services in every state.
    // Virtual so that a test can count the calls or feed a failure.
    virtual BOOL FetchBatch(SC_HANDLE manager, LPENUM_SERVICE_STATUSA buffer,
                                    DWORD bufferSize, DWORD& bytesNeeded, DWORD& returned,
                                    DWORD& resumeHandle);

private:
    bool EntriesValid(const ENUM_SERVICE_STATUSA* entries, DWORD count) const;

    bool FActive = false;
    DWORD FResumeHandle = 0;
    DWORD FBufferSize = DefaultBufferSize;
    BYTE* FBuffer = nullptr;
    ENUM_SERVICE_STATUSA* FCurrent = nullptr;
    DWORD FCount = 0;
    DWORD FIndex = 0;
    TServiceHandle FSCManager;
    bool FLastBatch = false;
};
