#include <gtest/gtest.h>
#include <windows.h>

#include "rtl/Handles.h"

namespace {
bool IsOpen(HANDLE h) {
    DWORD flags = 0;
    return GetHandleInformation(h, &flags) != FALSE;
}
// Far above any handle value a test process reaches: closing it fails.
HANDLE const kNoSuchHandle = reinterpret_cast<HANDLE>(0x7FFFFFF0);
}  // namespace

// A close that fails sets the last error; the owners put it back. Moving
// hands the one handle over, and its last owner closes it.
TEST(Handles, CloseKeepsLastErrorAndMoveHandsOver) {
    SetLastError(0xdeadbeef);
    ASSERT_FALSE(CloseHandle(kNoSuchHandle));
    ASSERT_NE(GetLastError(), 0xdeadbeefu) << "a failed close must set an error for this test";
    TKernelHandle bad(kNoSuchHandle);
    SetLastError(0xdeadbeef);
    bad.Reset();
    EXPECT_EQ(GetLastError(), 0xdeadbeefu);

    HANDLE raw = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(raw, nullptr);
    TKernelHandle first(raw);
    TKernelHandle second(std::move(first));
    EXPECT_FALSE(first);
    first = std::move(second);
    EXPECT_EQ(first.Get(), raw);
    EXPECT_TRUE(IsOpen(raw));
    first.Reset();
    EXPECT_FALSE(IsOpen(raw));
}

// CreateFile's INVALID_HANDLE_VALUE is no handle; Release gives the handle up
// unclosed.
TEST(Handles, InvalidValueIsNoneAndReleaseLeavesOpen) {
    TKernelHandle file(CreateFileA("Z:\\no\\such\\folder\\file", GENERIC_READ, 0, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(file.Get(), INVALID_HANDLE_VALUE);
    EXPECT_FALSE(file);

    TKernelHandle event(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(event);
    HANDLE raw = event.Release();
    EXPECT_FALSE(event);
    EXPECT_TRUE(IsOpen(raw));
    CloseHandle(raw);
}
