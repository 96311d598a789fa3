// A minimal Windows service for the tests, written straight on the service
// control manager's API. Usage (as the service's binary path):
//   tw_testsvc.exe <service name> [ignored arguments...]
// It reports RUNNING, accepts STOP, and stops by itself after two minutes so
// that a test that dies half-way leaves no process behind.
#include <windows.h>

namespace {

char* gName = nullptr;
SERVICE_STATUS_HANDLE gStatusHandle = nullptr;
HANDLE gStopEvent = nullptr;

void Report(DWORD state, DWORD accepted) {
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = accepted;
    status.dwWin32ExitCode = NO_ERROR;
    status.dwWaitHint = state == SERVICE_STOP_PENDING ? 5000 : 0;
    SetServiceStatus(gStatusHandle, &status);
}

DWORD WINAPI Handler(DWORD control, DWORD, LPVOID, LPVOID) {
    switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        Report(SERVICE_STOP_PENDING, 0);
        SetEvent(gStopEvent);
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI ServiceMain(DWORD, LPSTR*) {
    gStatusHandle = RegisterServiceCtrlHandlerExA(gName, Handler, nullptr);
    if (gStatusHandle == nullptr)
        return;
    gStopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    Report(SERVICE_RUNNING, SERVICE_ACCEPT_STOP);
    WaitForSingleObject(gStopEvent, 120000);
    Report(SERVICE_STOPPED, 0);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return 2;
    gName = argv[1];
    SERVICE_TABLE_ENTRYA table[] = {{gName, ServiceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}
