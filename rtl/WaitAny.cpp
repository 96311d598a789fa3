#include "WaitAny.h"

#include <windows.h>

#include <vector>

#include "Handles.h"

namespace {

constexpr std::size_t kGroup = MAXIMUM_WAIT_OBJECTS - 1;  // one slot for the stop event

TWaitAnyResult MapWait(DWORD r, std::size_t count, std::size_t base) {
    TWaitAnyResult result;
    if (r < WAIT_OBJECT_0 + count) {
        result.Kind = TWaitAnyResult::wkSignalled;
        result.Index = base + (r - WAIT_OBJECT_0);
    } else if (r >= WAIT_ABANDONED_0 && r < WAIT_ABANDONED_0 + count) {
        result.Kind = TWaitAnyResult::wkAbandoned;
        result.Index = base + (r - WAIT_ABANDONED_0);
    } else if (r == WAIT_TIMEOUT) {
        result.Kind = TWaitAnyResult::wkTimeout;
    } else if (r == WAIT_IO_COMPLETION) {
        result.Kind = TWaitAnyResult::wkIoCompletion;
    } else {
        result.Kind = TWaitAnyResult::wkFailed;
        result.Error = GetLastError();
    }
    return result;
}

// One helper: waits on its group plus the shared stop event; when one of its
// objects fires (or its wait fails) it sets the shared "fired" event.
struct TWaitGroup {
    HANDLE Handles[MAXIMUM_WAIT_OBJECTS];
    DWORD Count;  // group objects plus the stop event (last)
    HANDLE Fired;
};

DWORD WINAPI GroupProc(void* param) {
    auto* g = static_cast<TWaitGroup*>(param);
    DWORD r = WaitForMultipleObjects(g->Count, g->Handles, FALSE, INFINITE);
    if (r != WAIT_OBJECT_0 + g->Count - 1)
        SetEvent(g->Fired);
    return 0;
}

// Zero-time pass, group by group in index order; the first group with a
// signalled object holds the lowest signalled index.
TWaitAnyResult Scan(void* const* handles, std::size_t count) {
    for (std::size_t base = 0; base < count; base += MAXIMUM_WAIT_OBJECTS) {
        std::size_t n = count - base < MAXIMUM_WAIT_OBJECTS ? count - base : MAXIMUM_WAIT_OBJECTS;
        DWORD r = WaitForMultipleObjects(static_cast<DWORD>(n), handles + base, FALSE, 0);
        TWaitAnyResult result = MapWait(r, n, base);
        if (result.Kind != TWaitAnyResult::wkTimeout)
            return result;
    }
    TWaitAnyResult none;
    none.Kind = TWaitAnyResult::wkTimeout;
    return none;
}

}  // namespace

TWaitAnyResult WaitForAnyObject(void* const* Handles, std::size_t Count, unsigned long TimeoutMs,
                                bool Alertable) {
    if (Count <= MAXIMUM_WAIT_OBJECTS) {
        DWORD r = WaitForMultipleObjectsEx(static_cast<DWORD>(Count), Handles, FALSE, TimeoutMs,
                                           Alertable);
        return MapWait(r, Count, 0);
    }

    // Something may already be signalled: then no thread is needed at all.
    TWaitAnyResult early = Scan(Handles, Count);
    if (early.Kind != TWaitAnyResult::wkTimeout)
        return early;

    std::vector<TKernelHandle> owned;  // every handle made here, closed on every way out
    HANDLE fired = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (fired == nullptr)
        return MapWait(WAIT_FAILED, 0, 0);
    owned.emplace_back(fired);
    HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (stop == nullptr)
        return MapWait(WAIT_FAILED, 0, 0);
    owned.emplace_back(stop);

    const std::size_t direct = kGroup;           // watched by this thread
    const std::size_t helped = Count - direct;   // watched by helpers
    std::vector<TWaitGroup> groups((helped + kGroup - 1) / kGroup);
    std::vector<HANDLE> threads;
    // A helper that cannot be created leaves its group unwatched for this
    // wait; the scan after the wait still sees it, and this thread goes on
    // watching its own objects (among them the one that must always be seen).
    bool unwatched = false;
    for (std::size_t g = 0; g < groups.size(); ++g) {
        std::size_t base = g * kGroup;
        std::size_t n = helped - base < kGroup ? helped - base : kGroup;
        for (std::size_t i = 0; i < n; ++i)
            groups[g].Handles[i] = Handles[base + i];
        groups[g].Handles[n] = stop;
        groups[g].Count = static_cast<DWORD>(n + 1);
        groups[g].Fired = fired;
        // A small stack: the helpers only wait.
        HANDLE t = CreateThread(nullptr, 64 * 1024, GroupProc, &groups[g],
                                STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
        if (t == nullptr) {
            unwatched = true;
            break;
        }
        threads.push_back(t);
        owned.emplace_back(t);
    }

    TWaitAnyResult result;
    {
        HANDLE mine[MAXIMUM_WAIT_OBJECTS];
        for (std::size_t i = 0; i < direct; ++i)
            mine[i] = Handles[helped + i];
        mine[direct] = fired;
        DWORD start = GetTickCount();
        for (;;) {
            DWORD r = WaitForMultipleObjectsEx(static_cast<DWORD>(direct + 1), mine, FALSE,
                                               TimeoutMs, Alertable);
            result = MapWait(r, direct + 1, helped);
            if (result.Kind == TWaitAnyResult::wkTimeout && unwatched) {
                TWaitAnyResult scanned = Scan(Handles, Count);
                if (scanned.Kind != TWaitAnyResult::wkTimeout)
                    result = scanned;
                break;
            }
            if (result.Kind != TWaitAnyResult::wkSignalled &&
                result.Kind != TWaitAnyResult::wkAbandoned)
                break;
            // Whoever fired, the scan below names the lowest signalled index;
            // the helpers, still waiting meanwhile, are stopped after the loop.
            TWaitAnyResult scanned = Scan(Handles, Count);
            if (scanned.Kind != TWaitAnyResult::wkTimeout) {
                result = scanned;
                break;
            }
            // Nothing signalled after all (only a helper whose wait failed
            // can cause that, and its failure shows in the scan): go on with
            // what is left of the time-out.
            ResetEvent(fired);
            if (TimeoutMs != INFINITE) {
                DWORD spent = GetTickCount() - start;
                if (spent >= TimeoutMs) {
                    result.Kind = TWaitAnyResult::wkTimeout;
                    break;
                }
                TimeoutMs -= spent;
                start = GetTickCount();
            }
        }
    }

    SetEvent(stop);
    for (std::size_t base = 0; base < threads.size(); base += MAXIMUM_WAIT_OBJECTS) {
        std::size_t n = threads.size() - base < MAXIMUM_WAIT_OBJECTS ? threads.size() - base
                                                                     : MAXIMUM_WAIT_OBJECTS;
        WaitForMultipleObjects(static_cast<DWORD>(n), threads.data() + base, TRUE, INFINITE);
    }
    return result;
}
