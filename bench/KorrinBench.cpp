// Benchmark of the monitor thread (not a test):
//  1. CPU and wall time of one process-detection pass with many running
//     processes and 0, 50 and 500 configured programs;
//  2. the delay from a watched program's exit to OnProcessStopped with the
//     real intervals (10 s main wait, 3 s follow-up wait).
// Usage: kt_bench.exe [running processes, default 1000] [delay samples, default 7]
// It writes the configuration key of the prefix it runs in and deletes it
// afterwards: run it in a test prefix, never on a machine with a real
// configuration.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "config/TarnwickConfig.h"
#include "config/TarnwickConfigRegAdapter.h"
#include "rtl/DateUtils.h"
#include "rtl/Registry.h"
#include "service/KorrinThread.h"
#include "service/TarnwickRuntimeConfig.h"

namespace {

double Seconds() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return static_cast<double>(c.QuadPart) / frequency.QuadPart;
}

double ThreadCpuSeconds() {
    FILETIME creation, exit, kernel, user;
    GetThreadTimes(GetCurrentThread(), &creation, &exit, &kernel, &user);
    auto v = [](const FILETIME& f) {
        return ((static_cast<unsigned long long>(f.dwHighDateTime) << 32) | f.dwLowDateTime) / 1e7;
    };
    return v(kernel) + v(user);
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

std::string Folder() {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path, n);
    return s.substr(0, s.find_last_of('\\') + 1);
}

void WriteConfig(const std::vector<std::string>& programs) {
    TTarnwickConfig config;
    for (const auto& p : programs)
        config.Processes->Add(new TProcessConfig(p, false, false));
    TServiceConfigRegAdapter adapter;
    adapter.Save(config);
}

// Configured programs that are not running: their names are compared with
// every new process, as a real configuration's mostly are.
std::vector<std::string> IdlePrograms(int n) {
    std::vector<std::string> v;
    for (int i = 0; i < n; ++i)
        v.push_back("C:\\Program Files\\Bench\\idle_program_" + std::to_string(i) + ".exe");
    return v;
}

struct TChildren {
    HANDLE End;
    std::vector<HANDLE> Processes;
    std::vector<DWORD> Pids;
    explicit TChildren(const std::string& eventName)
        : End(CreateEventA(nullptr, TRUE, FALSE, eventName.c_str())) {}
    bool Start(const std::string& path, const std::string& eventName, DWORD code) {
        std::string cmd = "\"" + path + "\" " + std::to_string(code) + " " + eventName;
        STARTUPINFOA si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        if (!CreateProcessA(path.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &si, &pi))
            return false;
        CloseHandle(pi.hThread);
        Processes.push_back(pi.hProcess);
        Pids.push_back(pi.dwProcessId);
        return true;
    }
    ~TChildren() {
        SetEvent(End);
        for (HANDLE h : Processes) {
            WaitForSingleObject(h, 30000);
            CloseHandle(h);
        }
        CloseHandle(End);
    }
};

using TNtQuerySystemInformation = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);

// The platform's part of a pass: the process list taken as the scan takes it
// (64 KiB first, doubled until it fits).
void SnapshotAlone() {
    auto query = reinterpret_cast<TNtQuerySystemInformation>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    std::vector<double> cpu, wall;
    std::size_t size = 0;
    int calls = 0;
    for (int b = 0; b < 9; ++b) {
        double cb = ThreadCpuSeconds();
        for (int p = 0; p < 20; ++p) {
            double w = Seconds();
            size = 65536;
            calls = 1;
            std::vector<ULONGLONG> buffer(size / sizeof(ULONGLONG));
            while (query(5, buffer.data(), static_cast<ULONG>(size), nullptr) ==
                   static_cast<LONG>(0xC0000004)) {
                size *= 2;
                ++calls;
                buffer.assign(size / sizeof(ULONGLONG), 0);
            }
            wall.push_back(Seconds() - w);
        }
        cpu.push_back((ThreadCpuSeconds() - cb) / 20);
    }
    std::printf("  process list alone (%d calls, %zu KiB): CPU median %.2f ms, wall median %.2f ms\n",
                calls, size / 1024, Median(cpu) * 1e3, Median(wall) * 1e3);
}

void DetectionPasses(int configured) {
    WriteConfig(IdlePrograms(configured));
    TKorrinThread t(true);  // never resumed: its operations run on this thread
    t.BootTimeFunc = [] { return Now() - 1.0; };
    double w0 = Seconds(), c0 = ThreadCpuSeconds();
    t.LoadConfig(false);
    double baselineWall = Seconds() - w0, baselineCpu = ThreadCpuSeconds() - c0;

    // The thread's CPU clock ticks coarsely under Wine, so CPU time is taken
    // over a batch of passes; each sample is a batch's mean.
    constexpr int kBatches = 9, kPasses = 20;
    std::vector<double> cpu, wall;
    for (int b = 0; b < kBatches; ++b) {
        double cb = ThreadCpuSeconds();
        for (int p = 0; p < kPasses; ++p) {
            double w = Seconds();
            t.DetectNewProcesses();
            wall.push_back(Seconds() - w);
        }
        cpu.push_back((ThreadCpuSeconds() - cb) / kPasses);
    }
    std::printf("  %3d configured: pass CPU median %.2f ms, wall median %.2f ms "
                "(baseline pass: CPU %.1f ms, wall %.1f ms)\n",
                configured, Median(cpu) * 1e3, Median(wall) * 1e3, baselineCpu * 1e3,
                baselineWall * 1e3);
}

// Waits up to `ms` for `event` to be set for the process `pid`; reports for
// other processes are skipped: a sample that went unseen may still be
// reported late, while the next one runs.
bool WaitForReport(HANDLE event, const std::atomic<DWORD>& reportedPid, DWORD pid, DWORD ms) {
    const ULONGLONG deadline = GetTickCount64() + ms;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline ||
            WaitForSingleObject(event, static_cast<DWORD>(deadline - now)) != WAIT_OBJECT_0)
            return false;
        if (reportedPid == pid)
            return true;
    }
}

void StopDelay(const std::string& watched, int samples) {
    std::vector<std::string> programs = IdlePrograms(50);
    programs.push_back(watched);
    WriteConfig(programs);

    auto* t = new TKorrinThread(true);  // real intervals
    t->BootTimeFunc = [] { return Now() - 1.0; };
    HANDLE baselineTaken = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE started = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HANDLE stopped = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    std::atomic<DWORD> startedPid{0}, stoppedPid{0};
    std::atomic<double> stoppedAt{0};
    std::atomic<unsigned long long> stoppedSystemTime{0};
    t->OnStart = [&](TObject*) { SetEvent(baselineTaken); };
    t->OnProcessStarted = [&](TObject*, TMonitoredProcess* p) {
        startedPid = p->ProcessId();
        SetEvent(started);
    };
    t->OnProcessStopped = [&](TObject*, TMonitoredProcess* p) {
        stoppedAt = Seconds();
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        stoppedSystemTime = (static_cast<unsigned long long>(now.dwHighDateTime) << 32) |
                            now.dwLowDateTime;
        stoppedPid = p->ProcessId();
        SetEvent(stopped);
    };
    t->Resume();

    // A program already running when the silent baseline is taken counts as
    // running from the start and is never reported starting; with many
    // processes that baseline takes longer than starting the program.
    HANDLE baselineOrEnd[] = {baselineTaken, t->Handle()};
    WaitForMultipleObjects(2, baselineOrEnd, FALSE, INFINITE);

    std::vector<double> fromEnd, fromExit;
    for (int i = 0; i < samples && !t->Finished(); ++i) {
        std::string eventName = "kt_bench_end_" + std::to_string(GetCurrentProcessId()) + "_" +
                                std::to_string(i);
        TChildren child(eventName);
        if (!child.Start(watched, eventName, 0)) {
            std::printf("  the watched program could not start (error %lu)\n", GetLastError());
            break;
        }
        if (!WaitForReport(started, startedPid, child.Pids[0], 60000)) {
            DWORD code = 0;
            GetExitCodeProcess(child.Processes[0], &code);
            if (code != STILL_ACTIVE)
                std::printf("  sample %d: the watched program ended (code %lu) before it was "
                            "seen starting\n", i + 1, code);
            else
                std::printf("  sample %d: the watched program was not seen starting within "
                            "60 s\n", i + 1);
            continue;
        }
        // Somewhere inside the 10-second main wait, as a real exit would be.
        Sleep(500 + 1000 * (i % 5));
        double endAt = Seconds();
        SetEvent(child.End);
        if (!WaitForReport(stopped, stoppedPid, child.Pids[0], 60000)) {
            std::printf("  sample %d: no stop reported within 60 s of the end request\n", i + 1);
            continue;
        }
        FILETIME creation, exit, kernel, user;
        GetProcessTimes(child.Processes[0], &creation, &exit, &kernel, &user);
        unsigned long long exitTime =
            (static_cast<unsigned long long>(exit.dwHighDateTime) << 32) | exit.dwLowDateTime;
        fromEnd.push_back(stoppedAt - endAt);
        fromExit.push_back((stoppedSystemTime - exitTime) / 1e7);
    }
    if (t->Finished())
        std::printf("  the monitor thread ended before all samples were taken\n");
    t->RequestStop();
    t->WaitFor();
    delete t;
    CloseHandle(baselineTaken);
    CloseHandle(started);
    CloseHandle(stopped);
    if (!fromExit.empty())
        std::printf("  %zu samples: exit to OnProcessStopped median %.1f ms "
                    "(end request to OnProcessStopped median %.1f ms)\n",
                    fromExit.size(), Median(fromExit) * 1e3, Median(fromEnd) * 1e3);
}

}  // namespace

int main(int argc, char** argv) {
    const int running = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int samples = argc > 2 ? std::atoi(argv[2]) : 7;
    const std::string child = Folder() + "kt_child.exe";
    const std::string watched = Folder() + "kt_bench_watched.exe";
    CopyFileA(child.c_str(), watched.c_str(), FALSE);

    const std::string endName = "kt_bench_end_all_" + std::to_string(GetCurrentProcessId());
    {
        TChildren children(endName);
        double s0 = Seconds();
        for (int i = 0; i < running; ++i)
            if (!children.Start(child, endName, 0)) {
                DWORD error = GetLastError();
                // Wine's server refuses further processes (error 1359) at
                // some point; give some back, so that the watched program of
                // the delay measurement can still start.
                for (int k = 0; k < 16 && !children.Processes.empty(); ++k) {
                    TerminateProcess(children.Processes.back(), 0);
                    WaitForSingleObject(children.Processes.back(), 10000);
                    CloseHandle(children.Processes.back());
                    children.Processes.pop_back();
                    children.Pids.pop_back();
                }
                std::printf("could start only %d processes (error %lu); kept %zu\n", i, error,
                            children.Processes.size());
                break;
            }
        std::printf("started %zu processes in %.1f s\n", children.Processes.size(),
                    Seconds() - s0);

        std::printf("detection pass with %zu extra running processes:\n",
                    children.Processes.size());
        SnapshotAlone();
        for (int configured : {0, 50, 500})
            DetectionPasses(configured);

        // Room for the watched program: Wine's server refuses processes
        // beyond a limit near 1000 here.
        for (int k = 0; k < 16 && !children.Processes.empty(); ++k) {
            TerminateProcess(children.Processes.back(), 0);
            WaitForSingleObject(children.Processes.back(), 10000);
            CloseHandle(children.Processes.back());
            children.Processes.pop_back();
            children.Pids.pop_back();
        }
        std::printf("stop delay (main wait 10 s, follow-up wait 3 s, 51 configured, %zu extra "
                    "processes):\n", children.Processes.size());
        StopDelay(watched, samples);
    }

    TRegistry registry;
    registry.DeleteKey(TarnwickConfigKey);
    DeleteFileA(watched.c_str());
    return 0;
}
