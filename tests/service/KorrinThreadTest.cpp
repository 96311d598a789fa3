// The monitor thread against real processes, a real test service and the
// configuration in the test prefix's registry (the ctest lock
// "tarnwick_registry" keeps other programs off that key). Intervals and
// clocks are set through the thread's seams so that each case takes seconds.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "config/TarnwickConfig.h"
#include "config/TarnwickConfigRegAdapter.h"
#include "rtl/DateUtils.h"
#include "rtl/Registry.h"
#include "service/KorrinThread.h"
#include "service/TarnwickRuntimeConfig.h"
#include "tests/win32/TestServices.h"
#include "win32/Win32Utils.h"

namespace {

constexpr DWORD kEventTimeoutMs = 60000;

std::string OwnFolder() {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path, n);
    return s.substr(0, s.find_last_of('\\') + 1);
}

// A folder of this test process's own, holding copies of the child program
// under the names a case configures.
std::string CaseFolder() {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::string dir = std::string(temp) + "kt_" + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(dir.c_str(), nullptr);
    return dir + "\\";
}

std::string ProgramCopy(const std::string& name, const std::string& subfolder = std::string()) {
    std::string dir = CaseFolder();
    if (!subfolder.empty()) {
        dir += subfolder + "\\";
        CreateDirectoryA(dir.c_str(), nullptr);
    }
    std::string path = dir + name;
    CopyFileA((OwnFolder() + "kt_child.exe").c_str(), path.c_str(), FALSE);
    return path;
}

void ClearConfigKey() {
    TRegistry registry;
    registry.DeleteKey(TarnwickConfigKey);
}

struct TTestConfig {
    std::vector<std::string> Programs;
    std::vector<std::string> Services;
    std::int32_t StartupWaitPeriod = 0;
    TDateTime LastShutdownTime = 0;  // 0: none written
};

void WriteConfig(const TTestConfig& wanted) {
    TTarnwickConfig config;
    for (const auto& p : wanted.Programs)
        config.Processes->Add(new TProcessConfig(p, false, false));
    for (const auto& s : wanted.Services)
        config.Services->Add(new TServiceConfig(s, false, false, false));
    config.StartupWaitPeriod = wanted.StartupWaitPeriod;
    TServiceConfigRegAdapter adapter;
    adapter.Save(config);
    if (wanted.LastShutdownTime != 0) {
        TRegistry registry;
        ASSERT_TRUE(registry.OpenOrCreateKey(TarnwickConfigKey));
        registry.WriteDateTime(LastShutdownTimeValue, wanted.LastShutdownTime);
    }
}

TDateTime ReadLastShutdownTime() {
    TRegistry registry;
    if (!registry.OpenKeyReadOnly(TarnwickConfigKey) ||
        !registry.ValueExists(LastShutdownTimeValue))
        return 0;
    return registry.ReadDateTime(LastShutdownTimeValue);
}

// A running copy of the child program that ends, with its chosen exit code,
// when End is called.
class TChild {
public:
    // Waits until the child's path can be read as the monitor reads it,
    // unless it is created suspended.
    TChild(const std::string& path, DWORD exitCode, bool suspended = false) {
        static std::atomic<int> counter{0};
        std::string event = "kt_end_" + std::to_string(GetCurrentProcessId()) + "_" +
                            std::to_string(counter++);
        FEnd = CreateEventA(nullptr, TRUE, FALSE, event.c_str());
        std::string cmd = "\"" + path + "\" " + std::to_string(exitCode) + " " + event;
        STARTUPINFOA si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        // Under a heavily loaded Wine session a process start now and then
        // fails at once (error 1359) and succeeds when tried again.
        BOOL created = FALSE;
        for (int attempt = 0; attempt < 20 && !created; ++attempt) {
            created = CreateProcessA(path.c_str(), &cmd[0], nullptr, nullptr, FALSE,
                                     suspended ? CREATE_SUSPENDED : 0, nullptr, nullptr, &si, &pi);
            if (!created) {
                LastError = GetLastError();
                Sleep(100);
            }
        }
        if (created) {
            FThread = pi.hThread;
            FProcess = pi.hProcess;
            Pid = pi.dwProcessId;
            if (!suspended)
                WaitLoaded();
        }
    }
    void Resume() {
        ResumeThread(FThread);
        WaitLoaded();
    }
    void WaitLoaded() {  // Wine lists the modules a little before their names
        std::string path;
        for (int i = 0; i < 5000 && !(GetProcessImagePath(FProcess, path) && !path.empty()); ++i)
            Sleep(1);
    }
    ~TChild() {
        End();
        if (FProcess != nullptr) {
            WaitForSingleObject(FProcess, 10000);
            CloseHandle(FProcess);
            CloseHandle(FThread);
        }
        CloseHandle(FEnd);
    }
    TChild(const TChild&) = delete;
    TChild& operator=(const TChild&) = delete;

    bool Running() const { return FProcess != nullptr; }
    void End() { SetEvent(FEnd); }
    void WaitEnded() { WaitForSingleObject(FProcess, 10000); }

    DWORD Pid = 0;
    DWORD LastError = 0;  // of the last failed start

private:
    HANDLE FProcess = nullptr;
    HANDLE FThread = nullptr;
    HANDLE FEnd;
};

// What the thread's events reported, in order. The events fire on the
// monitor thread; the test waits for them here.
struct TRecord {
    char Kind;  // B start, E stop, S/X program started/stopped, V/W service started/stopped
    DWORD Pid = 0;
    DWORD ExitCode = 0;
    std::string Name;
};

class TRecorder {
public:
    void Hook(TKorrinThread& t) {
        t.OnStart = [this](TObject*) {
            Push({'B', 0, 0, std::string()});
            if (ThrowFromStartStop)
                throw std::runtime_error("handler failure");
        };
        t.OnStop = [this](TObject*) {
            Push({'E', 0, 0, std::string()});
            if (ThrowFromStartStop)
                throw std::runtime_error("handler failure");
        };
        t.OnProcessStarted = [this](TObject*, TMonitoredProcess* p) {
            Push({'S', p->ProcessId(), 0, p->Config()->ExeName});
        };
        t.OnProcessStopped = [this](TObject*, TMonitoredProcess* p) {
            Push({'X', p->ProcessId(), p->GetExitCode(), p->Config()->ExeName});
            if (ThrowFromStartStop)
                throw std::runtime_error("handler failure");
        };
        t.OnServiceStarted = [this](TObject*, TMonitoredService* s) {
            Push({'V', s->Process() ? s->Process()->ProcessId() : 0, 0, s->Config()->ServiceName});
        };
        t.OnServiceStopped = [this](TObject*, TMonitoredService* s) {
            Push({'W', 0, 0, s->Config()->ServiceName});
        };
    }

    // Waits until pred holds for the records (at most kEventTimeoutMs).
    bool WaitUntil(const std::function<bool(const std::vector<TRecord>&)>& pred) {
        std::unique_lock<std::mutex> lock(FLock);
        return FChanged.wait_for(lock, std::chrono::milliseconds(kEventTimeoutMs),
                                 [&] { return pred(FRecords); });
    }
    bool WaitFor(char kind, DWORD pid = 0, const std::string& name = std::string()) {
        return WaitUntil([&](const std::vector<TRecord>& r) { return CountIn(r, kind, pid, name) > 0; });
    }
    int Count(char kind, DWORD pid = 0, const std::string& name = std::string()) {
        std::lock_guard<std::mutex> lock(FLock);
        return CountIn(FRecords, kind, pid, name);
    }
    std::vector<TRecord> Records() {
        std::lock_guard<std::mutex> lock(FLock);
        return FRecords;
    }

    std::atomic<bool> ThrowFromStartStop{false};

private:
    static int CountIn(const std::vector<TRecord>& r, char kind, DWORD pid, const std::string& name) {
        int n = 0;
        for (const auto& x : r)
            if (x.Kind == kind && (pid == 0 || x.Pid == pid) && (name.empty() || x.Name == name))
                ++n;
        return n;
    }
    void Push(TRecord r) {
        {
            std::lock_guard<std::mutex> lock(FLock);
            FRecords.push_back(std::move(r));
        }
        FChanged.notify_all();
    }

    std::mutex FLock;
    std::condition_variable FChanged;
    std::vector<TRecord> FRecords;
};

DWORD ExitCodeFor(DWORD pid, const std::vector<TRecord>& records) {
    for (const auto& r : records)
        if (r.Kind == 'X' && r.Pid == pid)
            return r.ExitCode;
    return 0xDEADBEEF;
}

// Sets the named control event as the configuration program does after a
// save (the request code stays 0: reload), and waits until the thread has
// handled it (it resets the event when the reload is over).
bool RequestReloadAndWait() {
    HANDLE event = OpenEventA(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, TarnwickControlEventName);
    if (event == nullptr)
        return false;
    SetEvent(event);
    bool handled = false;
    for (DWORD i = 0; i < kEventTimeoutMs / 10 && !handled; ++i) {
        handled = WaitForSingleObject(event, 0) == WAIT_TIMEOUT;
        if (!handled)
            Sleep(10);
    }
    CloseHandle(event);
    return handled;
}

class KorrinThread : public ::testing::Test {
protected:
    void SetUp() override { ClearConfigKey(); }
    void TearDown() override {
        if (Thread && !Thread->Suspended())
            StopThread();
        Thread.reset();
        ClearConfigKey();
    }

    // A suspended monitor with short intervals, booted a day ago (no
    // start-up delay unless a case asks for one), its events recorded.
    void NewThread() {
        Thread = std::make_unique<TKorrinThread>(true);
        Thread->WaitSeconds = 1;
        Thread->FollowUpWaitMs = 100;
        Thread->ServicePollSeconds = 0.3;
        Thread->BootTimeFunc = [] { return Now() - 1.0; };
        Recorder.Hook(*Thread);
    }
    void StartThread() {
        NewThread();
        Thread->Resume();
        ASSERT_TRUE(Recorder.WaitFor('B'));
    }
    // Asks the thread to stop and waits for its end (bounded, so a lost stop
    // fails the case instead of hanging it).
    bool StopThread() {
        Thread->RequestStop();
        bool ended = WaitForSingleObject(Thread->Handle(), kEventTimeoutMs) == WAIT_OBJECT_0;
        if (!ended)
            Thread.release();  // never free the members of a thread still running
        return ended;
    }

    std::unique_ptr<TKorrinThread> Thread;
    TRecorder Recorder;
};

}  // namespace

TEST_F(KorrinThread, ProgramStartsAndStopsAreReportedWithTheirExitCodes) {
    const std::string program = ProgramCopy("kt_child.exe");
    WriteConfig({{program}, {}});
    TChild before(program, 5);
    ASSERT_TRUE(before.Running());

    Recorder.ThrowFromStartStop = true;  // handlers that raise change nothing
    ASSERT_NO_FATAL_FAILURE(StartThread());

    TChild started(program, 7);
    ASSERT_TRUE(Recorder.WaitFor('S', started.Pid));
    started.End();
    ASSERT_TRUE(Recorder.WaitFor('X', started.Pid));
    EXPECT_EQ(ExitCodeFor(started.Pid, Recorder.Records()), 7u);

    // The program that ran before the thread is in the silent baseline: no
    // start report, but its end is reported.
    before.End();
    ASSERT_TRUE(Recorder.WaitFor('X', before.Pid));
    EXPECT_EQ(ExitCodeFor(before.Pid, Recorder.Records()), 5u);
    EXPECT_EQ(Recorder.Count('S', before.Pid), 0);

    // An exit code of 259 (STILL_ACTIVE) is still an end: the signalled
    // handle proves it.
    TChild still(program, STILL_ACTIVE);
    ASSERT_TRUE(Recorder.WaitFor('S', still.Pid));
    still.End();
    ASSERT_TRUE(Recorder.WaitFor('X', still.Pid));
    EXPECT_EQ(ExitCodeFor(still.Pid, Recorder.Records()), 259u);

    const TDateTime beforeStop = Now();
    ASSERT_TRUE(StopThread());
    EXPECT_EQ(Recorder.Count('E'), 1);
    EXPECT_EQ(Recorder.Count('S', started.Pid), 1);
    EXPECT_EQ(Recorder.Count('X', started.Pid), 1);
    EXPECT_GE(ReadLastShutdownTime(), beforeStop - 1.0 / SecsPerDay);
    EXPECT_EQ(Thread->FatalException(), nullptr);
}

TEST_F(KorrinThread, AReloadDropsEverythingAndTakesANewSilentBaseline) {
    const std::string first = ProgramCopy("kt_child.exe");
    const std::string second = ProgramCopy("kt_other.exe");
    WriteConfig({{first}, {}});
    ASSERT_NO_FATAL_FAILURE(StartThread());

    TChild a(first, 1);
    ASSERT_TRUE(Recorder.WaitFor('S', a.Pid));
    TChild b(second, 2);  // not configured yet
    ASSERT_TRUE(b.Running());

    WriteConfig({{first, second}, {}});
    ASSERT_TRUE(RequestReloadAndWait());

    // Both are in the new baseline: their ends are reported, their starts
    // are not (again).
    b.End();
    ASSERT_TRUE(Recorder.WaitFor('X', b.Pid));
    a.End();
    ASSERT_TRUE(Recorder.WaitFor('X', a.Pid));
    EXPECT_EQ(Recorder.Count('S', b.Pid), 0);
    EXPECT_EQ(Recorder.Count('S', a.Pid), 1);
    EXPECT_EQ(Recorder.Count('X'), 2);
    EXPECT_EQ(Recorder.Count('B'), 1);
    ASSERT_TRUE(StopThread());
}

TEST_F(KorrinThread, AStopDuringAReloadStillEndsTheThread) {
    // Enough running programs that the reload's baseline takes a while.
    const std::string program = ProgramCopy("kt_child.exe");
    WriteConfig({{program}, {}});
    std::vector<std::unique_ptr<TChild>> children;
    for (int i = 0; i < 30; ++i)
        children.push_back(std::make_unique<TChild>(program, 0));
    ASSERT_NO_FATAL_FAILURE(StartThread());

    HANDLE event = OpenEventA(EVENT_MODIFY_STATE, FALSE, TarnwickControlEventName);
    ASSERT_NE(event, nullptr);
    SetEvent(event);
    CloseHandle(event);
    // The stop comes as soon as the reload is under way.
    bool seenLoading = false;
    for (auto until = GetTickCount() + 20000; GetTickCount() < until && !seenLoading;)
        seenLoading = Thread->Loading;
    Thread->RequestStop();
    EXPECT_TRUE(seenLoading);
    ASSERT_TRUE(WaitForSingleObject(Thread->Handle(), kEventTimeoutMs) == WAIT_OBJECT_0)
        << "the stop request was lost";
    EXPECT_EQ(Recorder.Count('E'), 1);
    EXPECT_EQ(Recorder.Count('X'), 0);  // the reload dropped them silently
}

TEST_F(KorrinThread, TheStartUpDelayAfterABootEndsOnARequest) {
    const TDateTime now = Now();
    const TDateTime boot = now - 10.0 / SecsPerDay;

    // Stopped since the boot: no delay.
    WriteConfig({{}, {}, 3600, boot + 1.0 / SecsPerDay});
    NewThread();
    Thread->BootTimeFunc = [boot] { return boot; };
    Thread->Resume();
    ASSERT_TRUE(Recorder.WaitFor('B'));
    ASSERT_TRUE(StopThread());
    Thread.reset();

    // First start after the boot, one hour of delay: a reload request ends
    // the delay at once, and the configuration saved meanwhile is the one
    // watched with.
    WriteConfig({{}, {}, 3600, boot - 1.0});
    TRecorder reloaded;
    Thread = std::make_unique<TKorrinThread>(true);
    Thread->BootTimeFunc = [boot] { return boot; };
    reloaded.Hook(*Thread);
    Thread->Resume();
    while (!Thread->Loading)
        Sleep(1);
    WriteConfig({{ProgramCopy("kt_saved.exe")}, {}, 3600, boot - 1.0});
    HANDLE event = OpenEventA(EVENT_MODIFY_STATE, FALSE, TarnwickControlEventName);
    ASSERT_NE(event, nullptr);
    SetEvent(event);
    CloseHandle(event);
    ASSERT_TRUE(reloaded.WaitFor('B'));
    ASSERT_TRUE(StopThread());
    EXPECT_EQ(Thread->Config->RuntimeProcesses->Count(), 1);
    Thread.reset();

    // A stop during the delay ends the thread without start or stop events,
    // and the shutdown time is still written (by the thread's clock).
    ClearConfigKey();
    WriteConfig({{}, {}, 3600, 0});
    TRecorder stopped;
    Thread = std::make_unique<TKorrinThread>(true);
    const TDateTime fixedNow = now;
    Thread->NowFunc = [fixedNow] { return fixedNow; };
    Thread->BootTimeFunc = [boot] { return boot; };
    stopped.Hook(*Thread);
    Thread->Resume();
    while (!Thread->Loading)
        Sleep(1);
    Sleep(100);
    ASSERT_TRUE(StopThread());
    EXPECT_TRUE(stopped.Records().empty());
    EXPECT_EQ(ReadLastShutdownTime(), fixedNow);
}

TEST_F(KorrinThread, AStopSurvivesAResetOfTheNamedEvent) {
    // While the start alert waits on a slow server, the stop comes and
    // someone allowed to set the named event resets it.
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    NewThread();
    Thread->OnStart = [&](TObject*) { WaitForSingleObject(release, kEventTimeoutMs); };
    Thread->Resume();
    Thread->RequestStop();
    HANDLE event = OpenEventA(EVENT_MODIFY_STATE, FALSE, TarnwickControlEventName);
    ResetEvent(event);
    CloseHandle(event);
    SetEvent(release);
    EXPECT_EQ(WaitForSingleObject(Thread->Handle(), 10000), WAIT_OBJECT_0) << "the stop was lost";
    CloseHandle(release);
}

TEST_F(KorrinThread, ServiceStartsAndStopsAreReported) {
    const std::string name = UniqueName("kt_svc");
    TTestService service(name, name + " display");
    ASSERT_TRUE(service.Installed()) << service.InstallError();
    WriteConfig({{}, {name}});
    ASSERT_NO_FATAL_FAILURE(StartThread());

    SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE svc = OpenServiceA(scm, name.c_str(), SERVICE_START);
    ASSERT_TRUE(StartServiceA(svc, 0, nullptr)) << GetLastError();
    CloseServiceHandle(svc);
    CloseServiceHandle(scm);
    ASSERT_TRUE(Recorder.WaitFor('V', 0, name));

    ASSERT_TRUE(service.Stop());
    ASSERT_TRUE(Recorder.WaitFor('W', 0, name));
    // Its process's end and the poll after it report the stop once.
    Sleep(1000);
    EXPECT_EQ(Recorder.Count('W', 0, name), 1);
    EXPECT_EQ(Recorder.Count('V', 0, name), 1);
    ASSERT_TRUE(StopThread());
}

TEST_F(KorrinThread, TwoHundredWatchedProgramsAreEachReportedAndControlRequestsStillSeen) {
    const std::string program = ProgramCopy("kt_child.exe");
    WriteConfig({{program}, {}});
    constexpr int kPrograms = 200;
    std::vector<std::unique_ptr<TChild>> children;
    for (int i = 0; i < kPrograms; ++i) {
        children.push_back(std::make_unique<TChild>(program, 1000 + i));
        ASSERT_TRUE(children.back()->Running()) << i << ": error " << children.back()->LastError;
    }
    NewThread();
    Thread->FollowUpWaitMs = 20;
    Thread->Resume();
    ASSERT_TRUE(Recorder.WaitFor('B'));

    // In list order: all but the last 63 handles of the wait are watched by
    // helper threads, so the first ones go through them.
    for (int i = 0; i < kPrograms; ++i) {
        if (i == kPrograms / 2) {
            ASSERT_TRUE(RequestReloadAndWait()) << "the control event was not seen";
        }
        TChild& child = *children[i];
        child.End();
        ASSERT_TRUE(Recorder.WaitFor('X', child.Pid)) << i;
        EXPECT_EQ(ExitCodeFor(child.Pid, Recorder.Records()), DWORD(1000 + i));
    }
    EXPECT_EQ(Recorder.Count('X'), kPrograms);
    EXPECT_EQ(Recorder.Count('S'), 0);
    ASSERT_TRUE(StopThread());
    EXPECT_EQ(Recorder.Count('E'), 1);
}

TEST_F(KorrinThread, TheScanMatchesTheFullPathAndPassesOverProcessesOlderThanTheLastScan) {
    // Driven on this thread: the monitor is never resumed. Named beyond ASCII
    // (code page 1252), so that the image name from UTF-16 and the path of the
    // module list must both come out as the configured ANSI text.
    const std::string inA = ProgramCopy("kt_s\xe4me.exe", "a");
    const std::string inB = ProgramCopy("kt_s\xe4me.exe", "Pr\xfc" "fung");
    TChild fromB(inB, 0);
    ASSERT_TRUE(fromB.Running());
    NewThread();
    // The store keeps one program per file name, so this configuration is
    // made in memory; the scan reads the path once for both entries.
    auto config = std::make_unique<TTarnwickRuntimeConfig>();
    config->RuntimeProcesses->Add(new TProcessRuntimeConfig(inA, false, false));
    config->RuntimeProcesses->Add(new TProcessRuntimeConfig(inB, false, false));
    Thread->Config = std::move(config);
    Thread->Loading = true;  // the silent baseline, as a load takes it
    Thread->DetectNewProcesses();
    Thread->Loading = false;
    ASSERT_EQ(Thread->WatchedProcesses->Count(), 1);
    EXPECT_EQ(Thread->WatchedProcesses->GetItem(0)->ProcessId(), fromB.Pid);
    EXPECT_EQ(Thread->WatchedProcesses->GetItem(0)->Config()->ApplicationPath, inB);
    EXPECT_EQ(Recorder.Count('S'), 0);  // the baseline is silent

    // A process created 2 ms before the previous scan's time is passed over,
    // one created 0.5 ms before it is still examined.
    TChild fromA(inA, 0);
    ASSERT_TRUE(fromA.Running());
    HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, fromA.Pid);
    ASSERT_NE(h, nullptr);
    FILETIME creation, exit, kernel, user;
    ASSERT_TRUE(GetProcessTimes(h, &creation, &exit, &kernel, &user));
    CloseHandle(h);
    const std::uint64_t created =
        (static_cast<std::uint64_t>(creation.dwHighDateTime) << 32) | creation.dwLowDateTime;
    Thread->LastProcessScan = created + 20000;
    Thread->DetectNewProcesses();
    EXPECT_EQ(Thread->WatchedProcesses->Count(), 1);
    Thread->LastProcessScan = created + 5000;
    Thread->DetectNewProcesses();
    ASSERT_EQ(Thread->WatchedProcesses->Count(), 2);
    EXPECT_EQ(Thread->WatchedProcesses->GetItem(1)->ProcessId(), fromA.Pid);
    EXPECT_EQ(Thread->WatchedProcesses->GetItem(1)->Config()->ApplicationPath, inA);
    EXPECT_EQ(Recorder.Count('S', fromA.Pid), 1);

    // A process caught before its modules can be listed (here: created
    // suspended, so its loader has not run) is looked at again by the next
    // scan, although it is older than that scan's time by then.
    TChild early(inA, 0, true);
    ASSERT_TRUE(early.Running());
    Thread->DetectNewProcesses();
    EXPECT_EQ(Thread->WatchedProcesses->Count(), 2);
    early.Resume();
    Sleep(20);
    Thread->DetectNewProcesses();
    ASSERT_EQ(Thread->WatchedProcesses->Count(), 3);
    EXPECT_EQ(Recorder.Count('S', early.Pid), 1);
    early.End();
    early.WaitEnded();
    ASSERT_NO_FATAL_FAILURE(Thread->ProcessStopped(2));

    // Both end at once: reported one per wait, in list order.
    fromA.End();
    fromB.End();
    fromA.WaitEnded();
    fromB.WaitEnded();
    for (DWORD expected : {fromB.Pid, fromA.Pid}) {
        int processIndex, serviceIndex;
        bool control;
        ASSERT_TRUE(Thread->WaitForSignal(processIndex, serviceIndex, control));
        EXPECT_EQ(processIndex, 0);
        EXPECT_FALSE(control);
        Thread->ProcessSignalled(processIndex);
        EXPECT_EQ(Recorder.Records().back().Pid, expected);
    }
    EXPECT_EQ(Thread->WatchedProcesses->Count(), 0);
}

TEST_F(KorrinThread, ConstructionAndTeardownLeaveNothingBehindAndLetNoConsoleEventIn) {
    // The system refuses the console routine, after the control event exists.
    ConsoleCtrlHandlerInstaller = [](int(__stdcall*)(unsigned long), int) { return FALSE; };
    EXPECT_THROW(TKorrinThread(true), EOSError);
    ConsoleCtrlHandlerInstaller = &SetConsoleCtrlHandler;
    EXPECT_EQ(ConsoleControlHandlerRefCount(), 0);
    EXPECT_EQ(OpenEventA(SYNCHRONIZE, FALSE, TarnwickControlEventName), nullptr);

    // A shutdown before the owner starts the thread (it hooks the events
    // meanwhile) waits for that start, then ends the thread.
    NewThread();
    TConsoleControlHandler::ConsoleHandlerRoutine(CTRL_SHUTDOWN_EVENT);
    ASSERT_TRUE(Thread->Suspended());
    Thread->Resume();
    ASSERT_EQ(WaitForSingleObject(Thread->Handle(), kEventTimeoutMs), WAIT_OBJECT_0);
    EXPECT_TRUE(Thread->SystemShutdown);
    Thread.reset();  // first: its teardown clears the shared instance's hooks

    // One during the teardown (from the configuration's destructor) finds no hook.
    struct TNotifyingConfig : TTarnwickRuntimeConfig {
        ~TNotifyingConfig() override {
            TConsoleControlHandler::ConsoleHandlerRoutine(CTRL_SHUTDOWN_EVENT);
        }
    };
    Thread = std::make_unique<TKorrinThread>(true);
    Thread->Config = std::make_unique<TNotifyingConfig>();
    HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, TarnwickControlEventName);
    Thread.reset();
    EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    CloseHandle(event);
}
