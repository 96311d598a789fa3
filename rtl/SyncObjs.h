#pragma once
// Scoped ownership of a critical section: entered for the life of the guard.

#include <windows.h>

class TCriticalSectionGuard {
public:
    explicit TCriticalSectionGuard(CRITICAL_SECTION& cs) : FCs(cs) { EnterCriticalSection(&FCs); }
    ~TCriticalSectionGuard() { LeaveCriticalSection(&FCs); }
    TCriticalSectionGuard(const TCriticalSectionGuard&) = delete;
    TCriticalSectionGuard& operator=(const TCriticalSectionGuard&) = delete;

private:
    CRITICAL_SECTION& FCs;
};
