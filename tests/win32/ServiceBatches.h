// Enumerators for the tests: one that counts its platform calls, and one that
// answers from a given list the way Windows does, batch by batch through the
// resume handle (Wine's manager answers all or nothing and never resumes).
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "win32/ServiceStatusEnumerator.h"

struct TListedService {
    std::string Name;
    std::string DisplayName;
    SERVICE_STATUS Status;
};

// Every Win32 service in one call with a buffer large enough for all.
std::vector<TListedService> ListAllServices();

class TCountingEnumerator : public TServiceStatusEnumerator {
public:
    int Calls = 0;
    // When set, answers in place of the platform.
    std::function<BOOL(LPENUM_SERVICE_STATUSA, DWORD, DWORD&, DWORD&, DWORD&)> Answer;

protected:
    BOOL FetchBatch(SC_HANDLE manager, LPENUM_SERVICE_STATUSA buffer, DWORD bufferSize,
                            DWORD& bytesNeeded, DWORD& returned, DWORD& resumeHandle) override;
};

// Fills buffer with the entries of list from index resumeHandle on, as many
// as fit, strings behind the entries; ERROR_MORE_DATA and the next index
// while entries remain.
BOOL AnswerInBatches(const std::vector<TListedService>& list, LPENUM_SERVICE_STATUSA buffer,
                     DWORD bufferSize, DWORD& bytesNeeded, DWORD& returned,
                     DWORD& resumeHandle);
