// Sets the running monitor's named control event, as the configuration
// program does after a save: opens it with EVENT_MODIFY_STATE only and sets
// it. Exit code 0 when set, 2 when the event does not exist, 1 otherwise.
// --audit prints the event's owner and DACL in SDDL, then the errors of
// opening it to set it and to change its DACL from this process's token with
// the Administrators made deny-only.
// --squat [event|mutex|link|lookalike] makes the event, a mutex, or a link
// in its place to nowhere or to an event with the monitor's security first;
// --hold opens the event to wait and set, as an administrator's tool may;
// all hold it until stdin ends.
#include <windows.h>
#include <sddl.h>
#include <winternl.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <initializer_list>

extern "C" NTSTATUS NTAPI NtCreateSymbolicLinkObject(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES,
                                                      PUNICODE_STRING);

// A symbolic link in the event's place, to \BaseNamedObjects\<target>.
static HANDLE MakeLink(const wchar_t* target) {
    wchar_t to[64] = L"\\BaseNamedObjects\\";
    UNICODE_STRING link, toName;
    RtlInitUnicodeString(&link, L"\\BaseNamedObjects\\TARN_WICK_CTRL_EVNT");
    RtlInitUnicodeString(&toName, std::wcscat(to, target));
    OBJECT_ATTRIBUTES oa;
    InitializeObjectAttributes(&oa, &link, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
    HANDLE h = nullptr;
    return NtCreateSymbolicLinkObject(&h, 0xF0001, &oa, &toName) >= 0 ? h : nullptr;
}

int main(int argc, char** argv) {
    const char* name = "Global\\TARN_WICK_CTRL_EVNT";
    const char* mode = argc > 1 ? argv[1] : "";
    const bool hold = std::strcmp(mode, "--hold") == 0;
    if (hold || std::strcmp(mode, "--squat") == 0) {
        const char* kind = argc > 2 ? argv[2] : "event";
        HANDLE h = nullptr;
        SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, FALSE};
        if (hold)
            h = OpenEventA(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, name);
        else if (std::strcmp(kind, "mutex") == 0)
            h = CreateMutexA(nullptr, FALSE, name);
        else if (std::strcmp(kind, "link") == 0)
            h = MakeLink(L"TARN_WICK_NOWHERE");
        else if (std::strcmp(kind, "lookalike") != 0)
            h = CreateEventA(nullptr, TRUE, FALSE, name);
        else if (ConvertStringSecurityDescriptorToSecurityDescriptorA(
                     "O:BAD:P(A;;0x1F0003;;;SY)(A;;0x100002;;;BA)", SDDL_REVISION_1, &sa.lpSecurityDescriptor,
                     nullptr) &&
                 CreateEventA(&sa, TRUE, FALSE, "Global\\TARN_WICK_LOOKALIKE") != nullptr)
            h = MakeLink(L"TARN_WICK_LOOKALIKE");
        if (h == nullptr)
            return 1;
        std::printf("made\n");
        std::fflush(stdout);
        while (std::getchar() != EOF) {
        }
        return 0;
    }
    if (std::strcmp(mode, "--audit") == 0) {
        HANDLE event = OpenEventA(READ_CONTROL, FALSE, name);
        char sd[1024], *sddl = nullptr;
        DWORD needed = 0, size = SECURITY_MAX_SID_SIZE;
        BYTE admins[SECURITY_MAX_SID_SIZE];
        SID_AND_ATTRIBUTES deny{admins, 0};
        HANDLE token = nullptr, restricted = nullptr;
        if (event == nullptr ||
            !GetKernelObjectSecurity(event, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                     sd, sizeof sd, &needed) ||
            !ConvertSecurityDescriptorToStringSecurityDescriptorA(
                sd, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                &sddl, nullptr) ||
            !OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &token) ||
            !CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &size) ||
            !CreateRestrictedToken(token, 0, 1, &deny, 0, nullptr, 0, nullptr, &restricted) ||
            !ImpersonateLoggedOnUser(restricted)) {
            std::fprintf(stderr, "audit failed: %lu\n", GetLastError());
            return 1;
        }
        std::printf("%s\n", sddl);
        for (DWORD access : {DWORD(EVENT_MODIFY_STATE), DWORD(WRITE_DAC)})
            if (OpenEventA(access, FALSE, name) == nullptr)
                std::printf("without Administrators, access 0x%lx: %lu\n", access, GetLastError());
        return 0;
    }
    HANDLE event = OpenEventA(EVENT_MODIFY_STATE, FALSE, name);
    if (event == nullptr) {
        DWORD error = GetLastError();
        std::fprintf(stderr, "OpenEventA failed: %lu\n", error);
        return error == ERROR_FILE_NOT_FOUND ? 2 : 1;
    }
    BOOL set = SetEvent(event);
    DWORD error = GetLastError();
    CloseHandle(event);
    if (!set) {
        std::fprintf(stderr, "SetEvent failed: %lu\n", error);
        return 1;
    }
    return 0;
}
