#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>
#include <string>
#include <vector>

#include "rtl/SvcMgr.h"
#include "rtl/SysUtils.h"

namespace {

struct Sc {
    SC_HANDLE h;
    explicit Sc(SC_HANDLE x) : h(x) {}
    ~Sc() {
        if (h)
            CloseServiceHandle(h);
    }
};

class TTestService : public TService {
public:
    using TService::TService;
    LPHANDLER_FUNCTION GetServiceController() override { return [](DWORD) {}; }
};

std::string UniqueName(const char* prefix) {
    return Format("%s%lu_%lu", prefix, GetCurrentProcessId(), GetTickCount());
}

std::string TestDir() {
    std::string dir = TService::ImagePath();
    dir.resize(dir.find_last_of('\\') + 1);
    return dir;
}

std::string ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

struct Messages {
    std::vector<std::string> texts;
    Messages() {
        TServiceApplication::MessageBoxHook = [this](const std::string& text,
                                                     const std::string& caption, UINT) {
            texts.push_back(caption + "|" + text);
            return IDOK;
        };
    }
    ~Messages() { TServiceApplication::MessageBoxHook = nullptr; }
};

// Polls until the service reaches state, recording every status seen.
bool WaitForState(SC_HANDLE svc, DWORD state, std::vector<SERVICE_STATUS>& seen,
                  DWORD timeoutMs = 20000) {
    DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMs) {
        SERVICE_STATUS st{};
        if (!QueryServiceStatus(svc, &st))
            return false;
        seen.push_back(st);
        if (st.dwCurrentState == state)
            return true;
        Sleep(50);
    }
    return false;
}

}  // namespace

TEST(SvcMgr, SwitchesFollowSlashOrDashInAnyCase) {
    std::vector<std::string> args = {"twsvc.exe", "-Install", "/silent", "uninstall", "/UNINSTALLX"};
    EXPECT_TRUE(FindCmdLineSwitch(args, "INSTALL"));
    EXPECT_TRUE(FindCmdLineSwitch(args, "SILENT"));
    EXPECT_FALSE(FindCmdLineSwitch(args, "UNINSTALL"));  // no prefix; longer word
    // The program name itself is never a switch.
    EXPECT_FALSE(FindCmdLineSwitch({"/INSTALL"}, "INSTALL"));
}

TEST(SvcMgr, InstallWritesTheIdentityAndUninstallRemovesIt) {
    Messages boxes;
    TServiceApplication app;
    app.Title = "ProbeTitle";
    auto* service = new TTestService(UniqueName("TwFwInst"));
    // Display names are unique in the service control manager too.
    service->DisplayName = "Framework Probe " + service->Name;
    struct Cleanup {
        std::string name;
        ~Cleanup() {
            Sc scm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
            Sc svc(OpenServiceA(scm.h, name.c_str(), DELETE));
            if (svc.h)
                DeleteService(svc.h);
        }
    } cleanup{service->Name};
    service->Dependencies.push_back({"Eventlog", false});
    service->StartType = SERVICE_AUTO_START;
    app.CreateForm(service);

    ASSERT_EQ(app.Run({"prog", "-Install", "/SILENT"}), 0)
        << (boxes.texts.empty() ? std::string() : boxes.texts[0]);
    EXPECT_TRUE(boxes.texts.empty());

    Sc scm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    ASSERT_NE(scm.h, nullptr);
    {
        Sc svc(OpenServiceA(scm.h, service->Name.c_str(), SERVICE_QUERY_CONFIG));
        ASSERT_NE(svc.h, nullptr);
        std::vector<char> buf(8192);
        DWORD needed = 0;
        ASSERT_TRUE(QueryServiceConfigA(svc.h, reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buf.data()),
                                        static_cast<DWORD>(buf.size()), &needed));
        auto* cfg = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buf.data());
        EXPECT_EQ(std::string(cfg->lpDisplayName), service->DisplayName);
        EXPECT_EQ(cfg->dwStartType, static_cast<DWORD>(SERVICE_AUTO_START));
        EXPECT_EQ(cfg->dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
        EXPECT_EQ(cfg->dwErrorControl, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
        std::string path = TService::ImagePath();
        if (path.find(' ') != std::string::npos)
            path = "\"" + path + "\"";
        EXPECT_EQ(std::string(cfg->lpBinaryPathName), path);
        EXPECT_STREQ(cfg->lpServiceStartName, "LocalSystem");
        std::string deps;
        for (const char* d = cfg->lpDependencies; d && *d; d += strlen(d) + 1)
            deps += std::string(d) + ";";
        // Wine's CreateServiceA loses the dependency list (it stores a garbled
        // or empty value); Windows keeps it.
        bool onWine = GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
        if (!(onWine && deps != "Eventlog;")) {
            EXPECT_EQ(deps, "Eventlog;");
        }
    }

    // A second install fails and says so in a box naming the display name.
    ASSERT_NE(app.Run({"prog", "/INSTALL", "/SILENT"}), 0);
    ASSERT_EQ(boxes.texts.size(), 1u);
    EXPECT_EQ(boxes.texts[0].find("ProbeTitle|Service \"" + service->DisplayName +
                                  "\" failed to install with error: \"System Error.  Code: 1073."),
              0u)
        << boxes.texts[0];
    EXPECT_NE(boxes.texts[0].find(SysErrorMessage(ERROR_SERVICE_EXISTS)), std::string::npos);

    ASSERT_EQ(app.Run({"prog", "/uninstall"}), 0);
    ASSERT_EQ(boxes.texts.size(), 2u);
    EXPECT_EQ(boxes.texts[1], "ProbeTitle|Service uninstalled successfully");
    SetLastError(0xdeadbeef);
    Sc gone(OpenServiceA(scm.h, service->Name.c_str(), SERVICE_QUERY_STATUS));
    EXPECT_EQ(gone.h, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
}

class SvcMgrLifecycle : public ::testing::Test {
protected:
    void SetUp() override {
        name = UniqueName("TwFwProbe");
        base = TestDir() + name;
        scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        ASSERT_NE(scm, nullptr);
        std::string cmd = "\"" + TestDir() + "svcfw_probe.exe\" " + name;
        svc = CreateServiceA(scm, name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                             SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                             cmd.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(svc, nullptr) << GetLastError();
    }
    void TearDown() override {
        if (svc) {
            SERVICE_STATUS st;
            ControlService(svc, SERVICE_CONTROL_STOP, &st);
            std::vector<SERVICE_STATUS> seen;
            WaitForState(svc, SERVICE_STOPPED, seen, 10000);
            DeleteService(svc);
            CloseServiceHandle(svc);
        }
        if (scm)
            CloseServiceHandle(scm);
        DeleteFileA((base + ".log").c_str());
        DeleteFileA((base + ".failstart").c_str());
        DeleteFileA((base + ".watch").c_str());
    }
    std::string name, base;
    SC_HANDLE scm = nullptr, svc = nullptr;
};

TEST_F(SvcMgrLifecycle, StartsRunsAndStopsReportingProgressWhileStopping) {
    ASSERT_TRUE(StartServiceA(svc, 0, nullptr)) << GetLastError();
    std::vector<SERVICE_STATUS> seen;
    ASSERT_TRUE(WaitForState(svc, SERVICE_RUNNING, seen));
    EXPECT_EQ(seen.back().dwControlsAccepted,
              static_cast<DWORD>(SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN));

    SERVICE_STATUS st{};
    ASSERT_TRUE(ControlService(svc, SERVICE_CONTROL_STOP, &st)) << GetLastError();
    seen.clear();
    ASSERT_TRUE(WaitForState(svc, SERVICE_STOPPED, seen));
    // While the handler works, stop pending is reported with rising check points.
    DWORD maxCheckPoint = 0;
    for (const SERVICE_STATUS& s : seen)
        if (s.dwCurrentState == SERVICE_STOP_PENDING) {
            EXPECT_GE(s.dwCheckPoint, maxCheckPoint);
            maxCheckPoint = s.dwCheckPoint;
            EXPECT_EQ(s.dwWaitHint, 4000u);
        }
    EXPECT_GE(maxCheckPoint, 3u);
    EXPECT_EQ(seen.back().dwWin32ExitCode, 0u);

    // The program's dispatcher returns once the service has stopped.
    for (int i = 0; i < 100 && ReadFile(base + ".log").find("end") == std::string::npos; ++i)
        Sleep(50);
    EXPECT_EQ(ReadFile(base + ".log"), "start\nstop\nend\n");
}

TEST_F(SvcMgrLifecycle, AFailedStartNeverReportsRunning) {
    std::ofstream(base + ".failstart") << "x";
    ASSERT_TRUE(StartServiceA(svc, 0, nullptr)) << GetLastError();
    std::vector<SERVICE_STATUS> seen;
    // The start call itself may already have seen start pending.
    ASSERT_TRUE(WaitForState(svc, SERVICE_STOPPED, seen));
    for (const SERVICE_STATUS& s : seen)
        EXPECT_NE(s.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    for (int i = 0; i < 100 && ReadFile(base + ".log").find("end") == std::string::npos; ++i)
        Sleep(50);
    EXPECT_EQ(ReadFile(base + ".log"), "start\nend\n");
}

TEST_F(SvcMgrLifecycle, AWatchedObjectThatEndsLetsTheServiceStopItselfWithAnExitCode) {
    std::ofstream(base + ".watch") << "x";
    ASSERT_TRUE(StartServiceA(svc, 0, nullptr)) << GetLastError();
    std::vector<SERVICE_STATUS> seen;
    ASSERT_TRUE(WaitForState(svc, SERVICE_STOPPED, seen));
    EXPECT_EQ(seen.back().dwWin32ExitCode, static_cast<DWORD>(ERROR_EXCEPTION_IN_SERVICE));
    for (int i = 0; i < 100 && ReadFile(base + ".log").find("end") == std::string::npos; ++i)
        Sleep(50);
    // The stop it queued for itself ran the ordinary stop handler.
    EXPECT_EQ(ReadFile(base + ".log"), "start\nwatch\nstop\nend\n");
}

// An interrogation, answered on the dispatcher's thread, waits for a report
// under way on the service's thread. The stopped report is made with the
// lock left (the object may be freed once it is out) and is the last one.
TEST(SvcMgr, AnInterrogationWaitsForAReportUnderWayButNotForTheStoppedOne) {
    struct TProbe : TTestService {
        using TTestService::TTestService;
        HANDLE Inside = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        HANDLE Late = nullptr;
        std::atomic<int> Busy{0}, Overlaps{0}, Reports{0};
        void SendStatus(const SERVICE_STATUS& status) override {
            Overlaps += Busy++ != 0;
            if (Reports++ == 0) {
                SetEvent(Inside);
                Sleep(300);  // room for the interrogation to barge in
            }
            if (status.dwCurrentState == SERVICE_STOPPED) {
                Late = CreateThread(nullptr, 0, [](void* self) -> DWORD {
                    static_cast<TProbe*>(self)->Controller(SERVICE_CONTROL_INTERROGATE);
                    return 0;
                }, this, 0, nullptr);
                EXPECT_EQ(WaitForSingleObject(Late, 10000), WAIT_OBJECT_0) << "the lock is held";
            }
            --Busy;
        }
    } service("TwFwLock");
    std::thread dispatcher([&] {
        WaitForSingleObject(service.Inside, INFINITE);
        service.Controller(SERVICE_CONTROL_INTERROGATE);
    });
    service.SetStatus(TCurrentStatus::csStopPending);
    dispatcher.join();
    service.SetStatus(TCurrentStatus::csStopped);
    WaitForSingleObject(service.Late, INFINITE);
    CloseHandle(service.Late);
    EXPECT_EQ(service.Reports.load(), 3);  // none after stopped
    EXPECT_EQ(service.Overlaps.load(), 0);
}
