// Sets the running monitor's named control event, as the configuration
// program does after a save: opens it with EVENT_MODIFY_STATE only and sets
// it. Exit code 0 when set, 2 when the event does not exist, 1 otherwise.
#include <windows.h>

#include <cstdio>

int main() {
    HANDLE event = OpenEventA(EVENT_MODIFY_STATE, FALSE, "Global\\TARN_WICK_CTRL_EVNT");
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
