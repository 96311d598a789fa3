// Scope guards: work that must run however a block is left (a return, an
// exception), written where the block begins.
#pragma once

#include <utility>

// Runs F once when the guard goes. F must not throw.
template <class F>
class TScopeExit {
public:
    explicit TScopeExit(F f) : FAction(std::move(f)) {}
    ~TScopeExit() { FAction(); }
    TScopeExit(const TScopeExit&) = delete;
    TScopeExit& operator=(const TScopeExit&) = delete;

private:
    F FAction;
};

// Holds a control's or list's updates (BeginUpdate) for the guard's life,
// then ends them (EndUpdate), on an exception too.
template <class T>
class TUpdateLock {
public:
    explicit TUpdateLock(T& target) : FTarget(target) { FTarget.BeginUpdate(); }
    ~TUpdateLock() { FTarget.EndUpdate(); }
    TUpdateLock(const TUpdateLock&) = delete;
    TUpdateLock& operator=(const TUpdateLock&) = delete;

private:
    T& FTarget;
};
