#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "TestServices.h"
#include "rtl/DateUtils.h"
#include "rtl/SysUtils.h"
#include "win32/Win32Utils.h"

namespace {

FILETIME MakeFileTime(unsigned long long units) {
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(units);
    ft.dwHighDateTime = static_cast<DWORD>(units >> 32);
    return ft;
}

FILETIME FromSystemTime(WORD y, WORD mo, WORD d, WORD h, WORD mi, WORD s, WORD ms) {
    SYSTEMTIME st{};
    st.wYear = y;
    st.wMonth = mo;
    st.wDay = d;
    st.wHour = h;
    st.wMinute = mi;
    st.wSecond = s;
    st.wMilliseconds = ms;
    FILETIME ft;
    SystemTimeToFileTime(&st, &ft);
    return ft;
}

unsigned long long Units(const FILETIME& ft) {
    return (static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

// The name of a SID looked up with ample buffers, "domain\name".
std::string AccountOf(PSID sid) {
    char name[512], domain[512];
    DWORD nameLength = sizeof name, domainLength = sizeof domain;
    SID_NAME_USE use;
    if (!LookupAccountSidA(nullptr, sid, name, &nameLength, domain, &domainLength, &use))
        return std::string();
    return std::string(domain) + "\\" + name;
}

std::vector<BYTE> TokenInfo(HANDLE token, TOKEN_INFORMATION_CLASS cls) {
    DWORD length = 0;
    GetTokenInformation(token, cls, nullptr, 0, &length);
    std::vector<BYTE> info(length);
    if (length == 0 || !GetTokenInformation(token, cls, info.data(), length, &length))
        info.clear();
    return info;
}

bool IsWine() {
    return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

// A child test program that waits on a named event and then exits.
class TChild {
public:
    explicit TChild(int exitCode) : FEventName(UniqueName("Global\\TwChildGo")) {
        FEvent = CreateEventA(nullptr, TRUE, FALSE, FEventName.c_str());
        HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, (FEventName + "_ready").c_str());
        std::string cmd = "\"" + HelperPath("tw_child.exe") + "\" " + FEventName + " " +
                          std::to_string(exitCode);
        STARTUPINFOA si{};
        si.cb = sizeof si;
        if (CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                           &FInfo)) {
            CloseHandle(FInfo.hThread);
            // The modules of a starting process can be listed once it runs.
            HANDLE both[] = {ready, FInfo.hProcess};
            WaitForMultipleObjects(2, both, FALSE, 10000);
        }
        CloseHandle(ready);
    }
    ~TChild() {
        if (FInfo.hProcess != nullptr) {
            SetEvent(FEvent);
            if (WaitForSingleObject(FInfo.hProcess, 10000) != WAIT_OBJECT_0)
                TerminateProcess(FInfo.hProcess, 1);
            CloseHandle(FInfo.hProcess);
        }
        CloseHandle(FEvent);
    }
    bool Started() const { return FInfo.hProcess != nullptr; }
    DWORD Id() const { return FInfo.dwProcessId; }
    HANDLE Process() const { return FInfo.hProcess; }
    bool Finish() {
        SetEvent(FEvent);
        return WaitForSingleObject(FInfo.hProcess, 10000) == WAIT_OBJECT_0;
    }

private:
    std::string FEventName;
    HANDLE FEvent = nullptr;
    PROCESS_INFORMATION FInfo{};
};

}  // namespace

TEST(Win32Utils, FileTimeEdgeCases) {
    EXPECT_EQ(FileTimeToDateTime(MakeFileTime(0)), 0.0);
    // 1601-01-01 is day -109205; before day 0 the time of day is subtracted.
    EXPECT_DOUBLE_EQ(FileTimeToDateTime(MakeFileTime(10000)), -109205.0 - 1.0 / MSecsPerDay);
    EXPECT_EQ(FileTimeToDateTime(MakeFileTime(9999)), -109205.0);
    EXPECT_EQ(FileTimeToDateTime(MakeFileTime(1)), -109205.0);
    // Around day 0.
    EXPECT_DOUBLE_EQ(FileTimeToDateTime(FromSystemTime(1899, 12, 30, 6, 0, 0, 0)), 0.25);
    EXPECT_DOUBLE_EQ(FileTimeToDateTime(FromSystemTime(1899, 12, 29, 6, 0, 0, 0)), -1.25);
    // Millisecond resolution: the 100-ns units below a millisecond are dropped.
    FILETIME leap = FromSystemTime(2024, 2, 29, 12, 34, 56, 789);
    TDateTime expected = EncodeDate(2024, 2, 29) + EncodeTime(12, 34, 56, 789);
    EXPECT_DOUBLE_EQ(FileTimeToDateTime(leap), expected);
    EXPECT_DOUBLE_EQ(FileTimeToDateTime(MakeFileTime(Units(leap) + 9999)), expected);
    // A count with the top bit set cannot be converted.
    EXPECT_EQ(FileTimeToDateTime(MakeFileTime(0x8000000000000000ULL)), 0.0);
}

TEST(Win32Utils, LongFileNameOfShortComponents) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::string longTemp = GetLongFileName(temp);
    std::string dir = longTemp + UniqueName("Tarnwick Long Directory Name");
    ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr)) << GetLastError();
    std::string file = dir + "\\Some Mixed Case File.Text";
    HANDLE h = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);

    // Short names as the file system itself reports them (Wine hashes them).
    char shortPath[MAX_PATH];
    DWORD n = GetShortPathNameA(file.c_str(), shortPath, MAX_PATH);
    ASSERT_GT(n, 0u);
    std::string shortName(shortPath, n);
    EXPECT_NE(shortName, file);
    EXPECT_EQ(GetLongFileName(shortName), file);
    // The letter case of the components is that of the file system, not of
    // the input (the drive letter stays as given).
    std::string lower = LowerCaseAZ(shortName);
    std::string fromLower = GetLongFileName(lower);
    ASSERT_EQ(fromLower.size(), file.size());
    EXPECT_EQ(fromLower.substr(1), file.substr(1));

    std::string missing = dir + "\\NOSUCH~1.TXT";
    EXPECT_EQ(GetLongFileName(missing), missing);

    DeleteFileA(file.c_str());
    RemoveDirectoryA(dir.c_str());
}

TEST(Win32Utils, TokenOwnerNameOfThisProcess) {
    HANDLE token;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    std::string owner = GetTokenOwnerName(token);
    std::vector<BYTE> ownerInfo = TokenInfo(token, TokenOwner);
    std::vector<BYTE> userInfo = TokenInfo(token, TokenUser);
    CloseHandle(token);
    ASSERT_FALSE(ownerInfo.empty());
    ASSERT_FALSE(userInfo.empty());

    ASSERT_NE(owner.find('\\'), std::string::npos) << owner;
    PSID ownerSid = reinterpret_cast<TOKEN_OWNER*>(ownerInfo.data())->Owner;
    PSID userSid = reinterpret_cast<TOKEN_USER*>(userInfo.data())->User.Sid;
    EXPECT_EQ(owner, AccountOf(ownerSid));
    // The owner, not the user: Wine's token shows the difference ("VM\None"
    // as owner, "VM\root" as user); on Windows they differ for an elevated
    // administrator (the Administrators group owns).
    if (!EqualSid(ownerSid, userSid)) {
        EXPECT_NE(owner, AccountOf(userSid));
    }
    if (IsWine()) {
        EXPECT_EQ(owner.substr(owner.find('\\')), "\\None") << owner;
    }
}

TEST(Win32Utils, TokenOwnerNameLongerThan32CharactersNeedsOneRegrowth) {
    // "BUILTIN\Pre-Windows 2000 Compatible Access": the account name has 34
    // characters, more than the first 32-character buffer holds.
    PSID sid = nullptr;
    ASSERT_TRUE(ConvertStringSidToSidA("S-1-5-32-554", &sid));
    std::string expected = AccountOf(sid);
    HANDLE token = nullptr, copy = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &token));
    ASSERT_TRUE(DuplicateTokenEx(token, TOKEN_QUERY | TOKEN_ADJUST_DEFAULT, nullptr,
                                 SecurityImpersonation, TokenPrimary, &copy));
    CloseHandle(token);
    TOKEN_OWNER owner{sid};
    bool set = SetTokenInformation(copy, TokenOwner, &owner, sizeof owner) != FALSE;
    std::string name = set ? GetTokenOwnerName(copy) : std::string();
    CloseHandle(copy);
    LocalFree(sid);
    size_t slash = expected.find('\\');
    if (!set || slash == std::string::npos || expected.size() - slash - 1 <= 32)
        GTEST_SKIP() << "cannot make S-1-5-32-554 the owner of a token here: Wine does not "
                        "implement SetTokenInformation(TokenOwner) (error 1), and Windows "
                        "allows only the token's own groups";
    EXPECT_EQ(name, expected);
}

TEST(Win32Utils, ImagePathOwnerAndTimesOfAChildProcess) {
    TChild child(7);
    ASSERT_TRUE(child.Started()) << GetLastError();
    HANDLE process =
        OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, child.Id());
    ASSERT_NE(process, nullptr);

    std::string image = "previous";
    ASSERT_TRUE(GetProcessImagePath(process, image));
    EXPECT_EQ(LowerCaseAZ(image), LowerCaseAZ(HelperPath("tw_child.exe")));

    HANDLE childToken, ownToken;
    ASSERT_TRUE(OpenProcessToken(process, TOKEN_QUERY, &childToken));
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &ownToken));
    std::string childOwner = GetTokenOwnerName(childToken);
    EXPECT_FALSE(childOwner.empty());
    EXPECT_EQ(childOwner, GetTokenOwnerName(ownToken));
    CloseHandle(childToken);
    CloseHandle(ownToken);

    FILETIME created, exited, kernel, user;
    ASSERT_TRUE(GetProcessTimes(process, &created, &exited, &kernel, &user));
    // Still running: the exit time is a zero FILETIME.
    EXPECT_EQ(FileTimeToDateTime(exited), 0.0);
    TDateTime createdAt = FileTimeToDateTime(created);
    SYSTEMTIME utc;
    GetSystemTime(&utc);
    TDateTime utcNow = SystemTimeToDateTime(utc);
    EXPECT_LE(createdAt, utcNow + 1.0 / SecsPerDay);
    // Creation times stay in UTC: visible only where local time differs.
    TIME_ZONE_INFORMATION zone;
    DWORD zoneId = GetTimeZoneInformation(&zone);
    long bias = zone.Bias + (zoneId == TIME_ZONE_ID_DAYLIGHT ? zone.DaylightBias : 0);
    if (bias != 0) {
        EXPECT_LT(std::fabs(utcNow - createdAt), std::abs(bias) / 2.0 / 1440.0);
    } else {
        EXPECT_LT(utcNow - createdAt, 1.0);  // local time is UTC here
    }

    ASSERT_TRUE(child.Finish());
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeProcess(process, &code));
    EXPECT_EQ(code, 7u);
    ASSERT_TRUE(GetProcessTimes(process, &created, &exited, &kernel, &user));
    EXPECT_GE(FileTimeToDateTime(exited), createdAt);

    // Once the process is gone its modules cannot be listed.
    image = "previous";
    EXPECT_FALSE(GetProcessImagePath(process, image));
    EXPECT_EQ(image, "previous");
    CloseHandle(process);
}

TEST(Win32Utils, ImagePathWithoutTheRightToReadTheProcess) {
    TChild child(0);
    ASSERT_TRUE(child.Started());
    HANDLE limited = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, child.Id());
    ASSERT_NE(limited, nullptr);
    std::string image = "previous";
    bool listed = GetProcessImagePath(limited, image);
    CloseHandle(limited);
    if (listed)
        GTEST_SKIP() << "Wine lists the modules through a handle without PROCESS_VM_READ";
    EXPECT_EQ(image, "previous");
}

TEST(Win32Utils, EnablePrivilege) {
    EXPECT_FALSE(EnablePrivilege("SeDebugPrivelege", true));  // misspelt

    auto privilegeState = [](const char* name) -> int {
        LUID luid;
        if (!LookupPrivilegeValueA(nullptr, name, &luid))
            return -1;
        HANDLE token;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
            return -1;
        std::vector<BYTE> info = TokenInfo(token, TokenPrivileges);
        CloseHandle(token);
        if (info.empty())
            return -1;
        const TOKEN_PRIVILEGES* p = reinterpret_cast<const TOKEN_PRIVILEGES*>(info.data());
        for (DWORD i = 0; i < p->PrivilegeCount; ++i)
            if (p->Privileges[i].Luid.LowPart == luid.LowPart &&
                p->Privileges[i].Luid.HighPart == luid.HighPart)
                return (p->Privileges[i].Attributes & SE_PRIVILEGE_ENABLED) ? 1 : 0;
        return -1;  // not held
    };

    if (privilegeState(SE_DEBUG_NAME) < 0)
        GTEST_SKIP() << "this account does not hold SeDebugPrivilege";
    ASSERT_TRUE(EnablePrivilege(SE_DEBUG_NAME, true));
    EXPECT_EQ(privilegeState(SE_DEBUG_NAME), 1);
    ASSERT_TRUE(EnablePrivilege(SE_DEBUG_NAME, false));
    EXPECT_EQ(privilegeState(SE_DEBUG_NAME), 0);
    EXPECT_TRUE(EnablePrivilege(SE_DEBUG_NAME, true));

    // A privilege the account does not hold: the adjustment still succeeds.
    const char* candidates[] = {SE_CREATE_TOKEN_NAME, SE_TCB_NAME, SE_RELABEL_NAME,
                                SE_TRUSTED_CREDMAN_ACCESS_NAME};
    for (const char* name : candidates) {
        if (privilegeState(name) == -1) {
            LUID luid;
            if (!LookupPrivilegeValueA(nullptr, name, &luid))
                continue;
            EXPECT_TRUE(EnablePrivilege(name, true)) << name;
            return;
        }
    }
}
