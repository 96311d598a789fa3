// A service built on the framework, for the framework's tests. Its service
// name is its first argument (set in the registered command line), so every
// test run installs its own. It records what the framework calls in
// <name>.log beside the program; a file <name>.failstart makes the start fail;
// its stop takes 2.5 s and re-reports stop pending meanwhile. With a file
// <name>.watch it starts a worker that ends on its own after a moment; the
// service watches it and, when it ends, stops itself with exit code 1064.
#include <windows.h>

#include <cstdio>
#include <string>

#include "rtl/SvcMgr.h"

namespace {

std::string g_base;

void Log(const char* what) {
    FILE* f = std::fopen((g_base + ".log").c_str(), "ab");
    if (f != nullptr) {
        std::fprintf(f, "%s\n", what);
        std::fclose(f);
    }
}

class TProbe : public TService {
public:
    using TService::TService;
    LPHANDLER_FUNCTION GetServiceController() override { return Controller; }
    static void WINAPI Controller(DWORD code) { Instance->TService::Controller(code); }
    static TProbe* Instance;
};
TProbe* TProbe::Instance = nullptr;

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return 2;
    std::string dir = TService::ImagePath();
    dir.resize(dir.find_last_of('\\') + 1);
    g_base = dir + argv[1];

    ServiceApplication.Initialize();
    ServiceApplication.Title = argv[1];
    TProbe::Instance = new TProbe(argv[1]);
    TProbe::Instance->WaitHint = 4000;
    TProbe::Instance->AllowPause = false;
    TProbe::Instance->OnStart = [](TService*, bool& started) {
        Log("start");
        started = GetFileAttributesA((g_base + ".failstart").c_str()) == INVALID_FILE_ATTRIBUTES;
        if (!started)  // at once, Wine's StartService would answer 1053
            Sleep(500);
        if (started && GetFileAttributesA((g_base + ".watch").c_str()) != INVALID_FILE_ATTRIBUTES) {
            HANDLE worker = CreateThread(
                nullptr, 0, [](LPVOID) -> DWORD { Sleep(300); return 0; }, nullptr, 0, nullptr);
            TProbe::Instance->Watch(worker, [worker](TService* s) {
                Log("watch");
                CloseHandle(worker);
                s->Win32ErrCode = ERROR_EXCEPTION_IN_SERVICE;
                s->Controller(SERVICE_CONTROL_STOP);
            });
        }
    };
    TProbe::Instance->OnStop = [](TService* s, bool& stopped) {
        Log("stop");
        for (int i = 0; i < 5; ++i) {
            Sleep(500);
            s->ReportStatus();
        }
        stopped = true;
    };
    TProbe::Instance->OnShutdown = [](TService*) { Log("shutdown"); };
    ServiceApplication.CreateForm(TProbe::Instance);
    int rc = ServiceApplication.Run();
    Log("end");
    return rc;
}
