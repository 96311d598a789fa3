#include <gtest/gtest.h>
#include <windows.h>

#include "rtl/Handles.h"

namespace {
bool IsOpen(HANDLE h) {
    DWORD flags = 0;
    return GetHandleInformation(h, &flags) != FALSE;
}
}  // namespace

// Closing keeps the thread's last error; moving hands the one handle over,
// and it is closed exactly once, by its last owner.
TEST(Handles, CloseKeepsLastErrorAndMoveHandsOver) {
    HANDLE raw = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(raw, nullptr);
    TKernelHandle first(raw);
    TKernelHandle second(std::move(first));
    EXPECT_FALSE(first);
    EXPECT_EQ(second.Get(), raw);
    first = std::move(second);
    EXPECT_EQ(first.Get(), raw);
    EXPECT_TRUE(IsOpen(raw));
    SetLastError(0xdeadbeef);
    first.Reset();
    EXPECT_EQ(GetLastError(), 0xdeadbeefu);
    EXPECT_FALSE(IsOpen(raw));

    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &key), ERROR_SUCCESS);
    TRegKey owned(key);
    SetLastError(0xdeadbeef);
    owned.Reset();
    EXPECT_EQ(GetLastError(), 0xdeadbeefu);
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
