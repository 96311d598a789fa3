// Sets the running monitor's named control event, as the configuration
// program does after a save: opens it with EVENT_MODIFY_STATE only and sets
// it. Exit code 0 when set, 2 when the event does not exist, 1 otherwise.
//
// --audit prints instead who may use the event (its DACL in SDDL) and the
// error of an open for EVENT_MODIFY_STATE from this process's token with the
// Administrators group made deny-only, then 0 for the same open unrestricted.
// --squat makes the event first, with a null DACL, and holds it until its
// standard input ends.
#include <windows.h>
#include <sddl.h>

#include <cstdio>
#include <cstring>

namespace {

const char* const EventName = "Global\\TARN_WICK_CTRL_EVNT";

DWORD OpenError() {
    HANDLE event = OpenEventA(EVENT_MODIFY_STATE, FALSE, EventName);
    DWORD error = event == nullptr ? GetLastError() : 0;
    if (event != nullptr)
        CloseHandle(event);
    return error;
}

int Audit() {
    HANDLE event = OpenEventA(READ_CONTROL, FALSE, EventName);
    if (event == nullptr) {
        std::fprintf(stderr, "OpenEventA(READ_CONTROL) failed: %lu\n", GetLastError());
        return 1;
    }
    char buffer[1024];
    DWORD needed = 0;
    char* sddl = nullptr;
    if (!GetKernelObjectSecurity(event, DACL_SECURITY_INFORMATION, buffer, sizeof buffer,
                                 &needed) ||
        !ConvertSecurityDescriptorToStringSecurityDescriptorA(buffer, SDDL_REVISION_1,
                                                              DACL_SECURITY_INFORMATION, &sddl,
                                                              nullptr)) {
        std::fprintf(stderr, "reading the security failed: %lu\n", GetLastError());
        return 1;
    }
    std::printf("%s\n", sddl);
    LocalFree(sddl);
    CloseHandle(event);

    HANDLE token = nullptr, restricted = nullptr;
    BYTE admins[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof admins;
    SID_AND_ATTRIBUTES deny{admins, 0};
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &token) ||
        !CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &size) ||
        !CreateRestrictedToken(token, 0, 1, &deny, 0, nullptr, 0, nullptr, &restricted) ||
        !ImpersonateLoggedOnUser(restricted)) {
        std::fprintf(stderr, "making the restricted token failed: %lu\n", GetLastError());
        return 1;
    }
    std::printf("without Administrators: %lu\n", OpenError());
    RevertToSelf();
    std::printf("with Administrators: %lu\n", OpenError());
    CloseHandle(restricted);
    CloseHandle(token);
    return 0;
}

int Squat() {
    SECURITY_DESCRIPTOR sd;
    InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&sd, TRUE, nullptr, FALSE);
    SECURITY_ATTRIBUTES sa{sizeof sa, &sd, FALSE};
    HANDLE event = CreateEventA(&sa, TRUE, FALSE, EventName);
    if (event == nullptr)
        return 1;
    std::printf("made\n");
    std::fflush(stdout);
    char c;
    while (std::fread(&c, 1, 1, stdin) == 1) {
    }
    CloseHandle(event);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--audit") == 0)
        return Audit();
    if (argc > 1 && std::strcmp(argv[1], "--squat") == 0)
        return Squat();
    HANDLE event = OpenEventA(EVENT_MODIFY_STATE, FALSE, EventName);
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
