// A child process for the tests: sets "<event name>_ready" when it runs, waits
// until the named event is set (at most a minute), then exits with the code.
//   tw_child.exe <event name> <exit code>
#include <windows.h>

#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc < 3)
        return 2;
    HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, argv[1]);
    if (event == nullptr)
        return 3;
    std::string readyName = std::string(argv[1]) + "_ready";
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, readyName.c_str());
    if (ready != nullptr) {
        SetEvent(ready);
        CloseHandle(ready);
    }
    WaitForSingleObject(event, 60000);
    CloseHandle(event);
    return std::atoi(argv[2]);
}
