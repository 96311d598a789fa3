// A watched program for the monitor thread's tests and benchmark: waits until
// the named event is set, then exits with the chosen code.
//   kt_child.exe <exit code> <event name>
// The event is created when it does not exist yet, so the parent may set it
// at any time. Without an event name the program exits at once.
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
    DWORD code = argc > 1 ? std::strtoul(argv[1], nullptr, 0) : 0;
    if (argc > 2) {
        HANDLE event = CreateEventA(nullptr, TRUE, FALSE, argv[2]);
        if (event == nullptr)
            return 250;
        WaitForSingleObject(event, INFINITE);
        CloseHandle(event);
    }
    // ExitProcess rather than a return: the code may be 259 (STILL_ACTIVE).
    ExitProcess(code);
}
