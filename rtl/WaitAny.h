// Waiting for the first of any number of kernel objects.
#pragma once

#include <cstddef>

// Outcome of WaitForAnyObject.
struct TWaitAnyResult {
    enum TKind { wkSignalled, wkAbandoned, wkTimeout, wkIoCompletion, wkFailed };
    TKind Kind = wkFailed;
    // Position of the object in the array, for wkSignalled and wkAbandoned.
    std::size_t Index = 0;
    // GetLastError of the failed wait, for wkFailed.
    unsigned long Error = 0;
};

// WaitForMultipleObjectsEx for "any" of Count objects, without the system's
// limit of 64: when several objects are signalled, the one with the lowest
// index is named, as the system's own wait does.
//
// Up to 64 objects this is exactly one WaitForMultipleObjectsEx. Beyond that,
// the calling thread itself waits (alertable, when asked) on the last 63
// objects and helper threads wait on the others in groups of 63; once
// anything fires, a zero-time pass over the whole array, group by group in
// order, names the lowest signalled index while the helpers still wait; they
// are stopped after it. The objects must therefore be ones whose signalled
// state a wait does not consume: processes, threads, manual-reset events (no
// auto-reset events, no semaphores, no mutexes beyond the first 64).
//
// The last objects of the array are those the calling thread watches itself,
// so put an object that must be seen even when helpers cannot be created
// (a control event) last.
TWaitAnyResult WaitForAnyObject(void* const* Handles, std::size_t Count,
                                unsigned long TimeoutMs, bool Alertable);
