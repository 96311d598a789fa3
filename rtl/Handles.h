// Owners of operating-system handles: one move-only template, and a traits
// class per kind saying what "no handle" is and how to close one. Every
// close keeps the thread's last error, so an error path that frees its
// handles can still read the error of the call that failed. The close calls
// stand in Handles.cpp alone; windows.h stays out of this header.
#pragma once

#include <utility>

struct HKEY__;
struct SC_HANDLE__;

template <class Traits>
class THandleOwner {
public:
    using Handle = typename Traits::Handle;

    THandleOwner() noexcept = default;
    explicit THandleOwner(Handle h) noexcept : FHandle(h) {}
    ~THandleOwner() { Reset(); }
    THandleOwner(const THandleOwner&) = delete;
    THandleOwner& operator=(const THandleOwner&) = delete;
    THandleOwner(THandleOwner&& other) noexcept : FHandle(other.Release()) {}
    THandleOwner& operator=(THandleOwner&& other) noexcept {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }

    Handle Get() const noexcept { return FHandle; }
    // Closes the handle held before (unless it is h itself), then holds h.
    void Reset(Handle h = Traits::None()) noexcept {
        if (h == FHandle)
            return;
        Handle old = FHandle;
        FHandle = h;
        if (Traits::IsValid(old))
            Traits::Close(old);
    }
    // Gives the handle up without closing it; the owner then holds none.
    [[nodiscard]] Handle Release() noexcept {
        Handle h = FHandle;
        FHandle = Traits::None();
        return h;
    }
    // Holds one: not "none" (for kernel handles neither null nor
    // INVALID_HANDLE_VALUE).
    explicit operator bool() const noexcept { return Traits::IsValid(FHandle); }

private:
    Handle FHandle = Traits::None();
};

// Kernel objects: events, processes, threads, tokens, files. CreateFile's
// "none" (INVALID_HANDLE_VALUE) and the others' (null) both mean none; the
// pseudo-handle of the current process is never closed either.
// Kinds whose "none" is null alone.
template <class H>
struct TNullIsNone {
    using Handle = H;
    static Handle None() noexcept { return nullptr; }
    static bool IsValid(Handle h) noexcept { return h != nullptr; }
};

struct TKernelHandleTraits : TNullIsNone<void*> {
    static bool IsValid(Handle h) noexcept {
        return h != nullptr && h != reinterpret_cast<Handle>(-1);
    }
    static void Close(Handle h) noexcept;  // CloseHandle
};

// Handles of the service control manager and its services.
struct TServiceHandleTraits : TNullIsNone<SC_HANDLE__*> {
    static void Close(Handle h) noexcept;  // CloseServiceHandle
};

// Registry keys opened or created by the program (never a predefined root).
struct TRegKeyTraits : TNullIsNone<HKEY__*> {
    static void Close(Handle h) noexcept;  // RegCloseKey
};

// Memory that the system allocated with LocalAlloc for the caller (security
// descriptors, FormatMessage's buffer).
struct TLocalMemoryTraits : TNullIsNone<void*> {
    static void Close(Handle h) noexcept;  // LocalFree
};

using TKernelHandle = THandleOwner<TKernelHandleTraits>;
using TServiceHandle = THandleOwner<TServiceHandleTraits>;
using TRegKey = THandleOwner<TRegKeyTraits>;
using TLocalMemory = THandleOwner<TLocalMemoryTraits>;
