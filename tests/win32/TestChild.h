// A running tw_child (the child test program), past its start-up: it exits
// with the chosen code once Finish sets its event, or when this object goes.
#pragma once

#include <windows.h>

#include <string>

class TTestChild {
public:
    explicit TTestChild(unsigned long exitCode) : Path(ProgramDir() + "tw_child.exe") {
        static long serial = 0;
        std::string eventName = "TwTestChild" + std::to_string(GetCurrentProcessId()) + "_" +
                                std::to_string(InterlockedIncrement(&serial));
        FEvent = CreateEventA(nullptr, TRUE, FALSE, eventName.c_str());
        HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, (eventName + "_ready").c_str());
        std::string cmd = "\"" + Path + "\" " + eventName + " " + std::to_string(exitCode);
        STARTUPINFOA si{};
        si.cb = sizeof si;
        if (CreateProcessA(Path.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                           &si, &FInfo)) {
            CloseHandle(FInfo.hThread);
            // Once it is ready its loader has finished, so its modules can be listed.
            HANDLE both[2] = {ready, FInfo.hProcess};
            WaitForMultipleObjects(2, both, FALSE, 30000);
        } else {
            FInfo = PROCESS_INFORMATION{};
        }
        CloseHandle(ready);
    }
    ~TTestChild() {
        Finish();
        if (FInfo.hProcess != nullptr)
            CloseHandle(FInfo.hProcess);
        CloseHandle(FEvent);
    }
    TTestChild(const TTestChild&) = delete;
    TTestChild& operator=(const TTestChild&) = delete;

    bool Started() const { return FInfo.hProcess != nullptr; }
    DWORD Id() const { return FInfo.dwProcessId; }
    // Lets the child exit and waits until it has.
    void Finish() {
        SetEvent(FEvent);
        if (FInfo.hProcess != nullptr)
            WaitForSingleObject(FInfo.hProcess, 30000);
    }

    const std::string Path;

private:
    static std::string ProgramDir() {
        char path[MAX_PATH];
        DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
        std::string dir(path, n);
        return dir.substr(0, dir.find_last_of('\\') + 1);
    }
    HANDLE FEvent;
    PROCESS_INFORMATION FInfo{};
};
