// Sets the running monitor's named control event, as the configuration
// program does after a save: opens it with EVENT_MODIFY_STATE only and sets
// it. Exit code 0 when set, 2 when the event does not exist, 1 otherwise.
// --audit prints the event's DACL in SDDL, then the error of that open from
// this process's token with the Administrators made deny-only.
// --squat makes the event first and holds it until stdin ends.
#include <windows.h>
#include <sddl.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    const char* name = "Global\\TARN_WICK_CTRL_EVNT";
    const char* mode = argc > 1 ? argv[1] : "";
    if (std::strcmp(mode, "--squat") == 0) {
        if (CreateEventA(nullptr, TRUE, FALSE, name) == nullptr)
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
            !GetKernelObjectSecurity(event, DACL_SECURITY_INFORMATION, sd, sizeof sd, &needed) ||
            !ConvertSecurityDescriptorToStringSecurityDescriptorA(
                sd, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &sddl, nullptr) ||
            !OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &token) ||
            !CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &size) ||
            !CreateRestrictedToken(token, 0, 1, &deny, 0, nullptr, 0, nullptr, &restricted) ||
            !ImpersonateLoggedOnUser(restricted)) {
            std::fprintf(stderr, "audit failed: %lu\n", GetLastError());
            return 1;
        }
        std::printf("%s\n", sddl);
        if (OpenEventA(EVENT_MODIFY_STATE, FALSE, name) == nullptr)
            std::printf("without Administrators: %lu\n", GetLastError());
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
