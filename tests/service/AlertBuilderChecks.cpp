// The alert builder with a real monitor thread (created suspended, never run:
// the handlers are called directly, on this thread, as the monitor would call
// them) and a real mail server. alert_builder.py runs this program: it starts
// aiosmtpd at TW_SINK_HOST, which stores every message in TW_SINK_DIR\new and
// refuses recipients whose address starts with "refuse", and checks Wine's
// trace of the event-log entries written in each section marked "@@ <name>"
// on stderr.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "lib/BWSysInfo.h"
#include "rtl/SysUtils.h"
#include "config/TarnwickConfigRegAdapter.h"
#include "rtl/Registry.h"
#include "service/AlertTemplates.h"
#include "service/dTWMonitor.h"
#include "tests/win32/TestServices.h"
#include "service/KorrinEventHandler.h"
#include "service/KorrinThread.h"
#include "service/TarnwickRuntimeConfig.h"

namespace {

void Section(const char* name) {
    std::fprintf(stderr, "@@ %s\n", name);
    std::fflush(stderr);
}

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr ? v : "";
}

struct Mail {
    std::string from, rcpt, subject, body;
};

// Every message the server holds, oldest first.
std::vector<Mail> Mails() {
    std::vector<std::string> names;
    WIN32_FIND_DATAA fd;
    std::string dir = Env("TW_SINK_DIR") + "\\new\\";
    HANDLE h = FindFirstFileA((dir + "*.msg").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do
            names.push_back(fd.cFileName);
        while (FindNextFileA(h, &fd));
        FindClose(h);
    }
    std::sort(names.begin(), names.end());
    std::vector<Mail> mails;
    for (const std::string& n : names) {
        std::string raw;
        FILE* f = std::fopen((dir + n).c_str(), "rb");
        if (f == nullptr)
            continue;
        char buf[4096];
        size_t got;
        while ((got = std::fread(buf, 1, sizeof buf, f)) > 0)
            raw.append(buf, got);
        std::fclose(f);
        Mail m;
        size_t split = raw.find("\r\n\r\n");
        std::string head = raw.substr(0, split);
        m.body = split == std::string::npos ? "" : raw.substr(split + 4);
        auto header = [&](const std::string& name) {
            size_t p = head.find(name + ": ");
            if (p == std::string::npos)
                return std::string();
            size_t e = head.find("\r\n", p);
            return head.substr(p + name.size() + 2, e - p - name.size() - 2);
        };
        m.from = header("X-MailFrom");
        m.rcpt = header("X-RcptTo");
        m.subject = header("Subject");
        mails.push_back(m);
    }
    return mails;
}

// The mails sent to rcpt (delivery is synchronous: the handler returns after
// the server has taken the message).
std::vector<Mail> MailsTo(const std::string& rcpt) {
    std::vector<Mail> out;
    for (const Mail& m : Mails())
        if (m.rcpt == rcpt)
            out.push_back(m);
    return out;
}

std::string ComputerField() {
    std::string name, group;
    bool n = GetLocalComputerName(name);
    bool g = GetWorkgroupName(group);
    return QualifiedComputerName(n, name, g, group);
}

std::string TestDir() {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path, n);
    return dir.substr(0, dir.find_last_of('\\') + 1);
}

// A running tw_sample.exe (or a copy), ended (exit code 0 or as asked) when freed.
struct Child {
    PROCESS_INFORMATION pi{};
    explicit Child(unsigned exitCode, unsigned lifeMs = 60000,
                   const std::string& program = TestDir() + "tw_sample.exe") {
        std::string cmd = "\"" + program + "\" " + std::to_string(exitCode) + " " +
                          std::to_string(lifeMs);
        STARTUPINFOA si{};
        si.cb = sizeof si;
        if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                            &pi))
            ADD_FAILURE() << "tw_sample.exe: " << GetLastError();
    }
    void End(unsigned code) {
        TerminateProcess(pi.hProcess, code);
        WaitForSingleObject(pi.hProcess, 10000);
    }
    ~Child() {
        if (pi.hProcess) {
            End(0);
            CloseHandle(pi.hProcess);
            CloseHandle(pi.hThread);
        }
    }
};

class AlertBuilder : public ::testing::Test {
protected:
    void SetUp() override {
        thread.reset(new TKorrinThread(true));
        handler.reset(new TKorrinEventHandler(thread.get()));
        auto* c = new TTarnwickRuntimeConfig();
        c->PrimarySMTPTransportType = ttHost;
        c->PrimarySMTPHost = Env("TW_SINK_HOST");
        c->FromEmail = "tarnwick@example.test";
        c->WriteAlertsToEventLog = true;
        c->ProcessStartupEvent = c->ProcessTerminationEvent = true;
        c->ServiceStartupEvent = c->ServiceShutdownEvent = true;
        c->TarnwickStartupEvent = c->TarnwickShutdownEvent = true;
        thread->Config.reset(c);
        config = c;
        computer = ComputerField();
    }
    void TearDown() override {
        handler.reset();
        thread.reset();
    }
    // One recipient per case, so each case finds its own mail.
    void Recipient(const std::string& address) { config->EmailAddresses->Add(address); }
    TProcessRuntimeConfig* WatchSample(const std::string& path, bool start, bool stop) {
        auto* entry = CheckedCast<TProcessRuntimeConfig>(
            config->RuntimeProcesses->ItemClass()->Create(path, start, stop).release());
        config->RuntimeProcesses->Add(entry);
        return entry;
    }

    std::unique_ptr<TKorrinThread> thread;
    std::unique_ptr<TKorrinEventHandler> handler;
    TTarnwickRuntimeConfig* config = nullptr;
    std::string computer;
};

}  // namespace

TEST_F(AlertBuilder, ProgramAlertsNameTheConfiguredFileAndCountInstances) {
    Recipient("programs@example.test");
    // Configured in capitals: the subject names the configured file in lower
    // case, the body the path the running process reports: a copy in a folder
    // named beyond ASCII, which alert_builder.py finds in the decoded mail.
    const std::string folder = TestDir() + "Pr\xfc" "fung\\", copy = folder + "tw_sample.exe";
    CreateDirectoryA(folder.c_str(), nullptr);
    ASSERT_TRUE(CopyFileA((TestDir() + "tw_sample.exe").c_str(), copy.c_str(), FALSE));
    auto* entry = WatchSample(folder + "TW_SAMPLE.EXE", true, true);
    Child a(0, 60000, copy), b(0, 60000, copy);
    // A process that has only just been created has no module list yet, so
    // its image path cannot be read; wait until it can.
    for (int i = 0; i < 100; ++i) {
        TMonitoredProcessBase probeA(a.pi.dwProcessId), probeB(b.pi.dwProcessId);
        if (!probeA.ImagePath().empty() && !probeB.ImagePath().empty())
            break;
        Sleep(50);
    }
    auto* pa = new TMonitoredProcess(entry, a.pi.dwProcessId);
    auto* pb = new TMonitoredProcess(entry, b.pi.dwProcessId);
    thread->WatchedProcesses->Add(pa);
    thread->WatchedProcesses->Add(pb);

    Section("process-start");
    handler->HandleProcessStarted(thread.get(), pb);
    a.End(42);
    Section("process-stop");
    handler->HandleProcessStopped(thread.get(), pa);

    std::vector<Mail> mails = MailsTo("programs@example.test");
    ASSERT_EQ(mails.size(), 2u);
    EXPECT_EQ(mails[0].from, "tarnwick@example.test");
    EXPECT_EQ(mails[0].subject, "[Tarnwick] Process Startup: tw_sample.exe on " + computer);
    EXPECT_NE(mails[0].body.find("Process:  tw_sample.exe\r\n"), std::string::npos) << mails[0].body;
    EXPECT_NE(mails[0].body.find("Instances:  2\r\n"), std::string::npos) << mails[0].body;
    EXPECT_EQ(mails[1].subject, "[Tarnwick] Process Shutdown: tw_sample.exe on " + computer);
    EXPECT_NE(mails[1].body.find("Exit Code: 42\r\n"), std::string::npos) << mails[1].body;
    // The stopped process is still listed while the handler runs: one remains.
    EXPECT_NE(mails[1].body.find("Instances:    1\r\n"), std::string::npos) << mails[1].body;

    // Switches off: neither entry nor mail.
    config->WriteAlertsToEventLog = false;
    entry->RaiseShutdownEvent = false;
    Section("process-no-log");
    handler->HandleProcessStopped(thread.get(), pa);
    EXPECT_EQ(MailsTo("programs@example.test").size(), 2u);
}

TEST_F(AlertBuilder, StartMailListsConfiguredServicesAndPrograms) {
    Recipient("start@example.test");
    config->RaiseStartupEvent = true;
    auto addService = [&](const std::string& name) {
        auto* e = CheckedCast<TServiceRuntimeConfig>(
            config->RuntimeServices->ItemClass()->Create(name, false, false, false).release());
        config->RuntimeServices->Add(e);
        return e;
    };
    TServiceRuntimeConfig* eventlog = addService("EVENTLOG");
    addService("TwNoSuchServiceWithAVeryLongNameBeyond32");
    thread->WatchedServices->Add(new TMonitoredService(eventlog));
    WatchSample(TestDir() + "tw_sample.exe", false, false);

    Section("monitor-start");
    handler->HandleStart(thread.get());
    std::vector<Mail> mails = MailsTo("start@example.test");
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_EQ(mails[0].subject, "[Tarnwick] Tarnwick Startup on " + computer);
    const std::string& body = mails[0].body;
    EXPECT_NE(body.find("\r\neventlog                        Running\r\n"
                        "twnosuchservicewithaverylongnamebeyond32Stopped\r\n"),
              std::string::npos)
        << body;
    EXPECT_NE(body.find("\r\ntw_sample.exe                   None\r\n"), std::string::npos)
        << body;
    EXPECT_EQ(body.find("<%"), std::string::npos) << body;
}

TEST_F(AlertBuilder, StopMailFollowsTheShutdownKind) {
    struct Case {
        bool systemShutdown, raiseShutdown, raiseWindows;
        const char* subject;  // null: no mail
    } cases[] = {
        {false, true, true, "[Tarnwick] Tarnwick Shutdown on "},
        {true, true, true, "[Tarnwick] Windows Shutdown on "},
        {true, true, false, nullptr},
        {false, false, true, nullptr},
    };
    int i = 0;
    for (const Case& c : cases) {
        std::string rcpt = "stop" + std::to_string(++i) + "@example.test";
        config->EmailAddresses->Clear();
        Recipient(rcpt);
        thread->SystemShutdown = c.systemShutdown;
        config->RaiseShutdownEvent = c.raiseShutdown;
        config->RaiseWindowsShutdownEvent = c.raiseWindows;
        // Ordinary stops write the monitor-stopping entry, whatever the mail
        // switches; a Windows shutdown never does.
        Section(("stop-" + std::to_string(i)).c_str());
        handler->HandleStop(thread.get());
        std::vector<Mail> mails = MailsTo(rcpt);
        if (c.subject == nullptr) {
            EXPECT_TRUE(mails.empty()) << i;
            continue;
        }
        ASSERT_EQ(mails.size(), 1u) << i;
        EXPECT_EQ(mails[0].subject, c.subject + computer);
        const char* first = c.systemShutdown ? "Windows is shutting down. \r\n"
                                             : "Tarnwick is shutting down. Services";
        EXPECT_EQ(mails[0].body.find(first), 0u) << mails[0].body;
    }
}

TEST_F(AlertBuilder, RefusedRecipientsWriteTheSendFailedEntryExceptAtWindowsShutdown) {
    WatchSample(TestDir() + "tw_sample.exe", true, true);
    config->RaiseShutdownEvent = config->RaiseWindowsShutdownEvent = true;
    config->TarnwickShutdownEvent = false;
    Recipient("refused@example.test");
    Recipient("taken@example.test");
    Section("send-failed");
    handler->HandleStop(thread.get());
    EXPECT_EQ(MailsTo("taken@example.test").size(), 1u);

    // No switch gates the entry, not even WriteAlertsToEventLog.
    config->WriteAlertsToEventLog = false;
    Section("send-failed-log-off");
    handler->HandleStop(thread.get());

    thread->SystemShutdown = true;
    Section("send-failed-shutdown");
    handler->HandleStop(thread.get());
    EXPECT_EQ(MailsTo("taken@example.test").size(), 3u);
}

bool Control(const std::string& name, bool start) {
    SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE svc = OpenServiceA(scm, name.c_str(), SERVICE_START | SERVICE_STOP);
    SERVICE_STATUS st{};
    bool ok = start ? StartServiceA(svc, 0, nullptr) != FALSE
                    : ControlService(svc, SERVICE_CONTROL_STOP, &st) != FALSE;
    CloseServiceHandle(svc);
    CloseServiceHandle(scm);
    return ok && WaitForServiceState(name, start ? SERVICE_RUNNING : SERVICE_STOPPED);
}

TEST_F(AlertBuilder, ServiceStopMailOnlyOnFailureWhenAsked) {
    Recipient("service@example.test");
    TTestService ts(UniqueName("TwAlertSvc"), "Tarnwick alert test service");
    ASSERT_TRUE(ts.Installed()) << ts.InstallError();
    auto* e = CheckedCast<TServiceRuntimeConfig>(
        config->RuntimeServices->ItemClass()->Create(ts.Name(), false, true, true).release());
    config->RuntimeServices->Add(e);
    ASSERT_TRUE(Control(ts.Name(), true));
    std::unique_ptr<TMonitoredService> service(new TMonitoredService(e));
    ASSERT_TRUE(Control(ts.Name(), false));

    // Stopped with exit code 0, failures only: the entry, but no mail.
    Section("service-stop");
    handler->HandleServiceStopped(thread.get(), service.get());
    EXPECT_TRUE(MailsTo("service@example.test").empty());

    e->OnlyShutdownFailureEvent = false;
    config->WriteAlertsToEventLog = false;
    handler->HandleServiceStopped(thread.get(), service.get());
    std::vector<Mail> mails = MailsTo("service@example.test");
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_EQ(mails[0].subject, "[Tarnwick] Service Shutdown: " + ts.Name() + " on " + computer);
    EXPECT_NE(mails[0].body.find("Exit Code: 0 (No Error)\r\n"), std::string::npos)
        << mails[0].body;

    // A service that never started (Wine's Spooler: 1077) counts as failed.
    auto* spooler = CheckedCast<TServiceRuntimeConfig>(
        config->RuntimeServices->ItemClass()->Create("Spooler", false, true, true).release());
    config->RuntimeServices->Add(spooler);
    std::unique_ptr<TMonitoredService> other(new TMonitoredService(spooler));
    SERVICE_STATUS sp{};
    ASSERT_TRUE(other->GetStatus(sp));
    if (sp.dwWin32ExitCode == 0)
        GTEST_SKIP() << "Spooler reports exit code 0 here";
    handler->HandleServiceStopped(thread.get(), other.get());
    mails = MailsTo("service@example.test");
    ASSERT_EQ(mails.size(), 2u);
    EXPECT_NE(mails[1].body.find("Exit Code: " + std::to_string(sp.dwWin32ExitCode) + " ("),
              std::string::npos)
        << mails[1].body;
}

TEST_F(AlertBuilder, FollowOnEventsRunLastAndTheirExceptionsStayInside) {
    Recipient("followon@example.test");
    int calls = 0;
    handler->AfterStop = [&](TObject* sender) {
        EXPECT_EQ(sender, thread.get());
        // The mail went out before.
        EXPECT_EQ(MailsTo("followon@example.test").size(), 1u);
        ++calls;
        throw Exception("follow-on");
    };
    config->RaiseShutdownEvent = true;
    config->TarnwickShutdownEvent = false;
    EXPECT_NO_THROW(handler->HandleStop(thread.get()));
    EXPECT_EQ(calls, 1);
}

TEST_F(AlertBuilder, FreeingUnhooksTheThreadsEvents) {
    EXPECT_TRUE(static_cast<bool>(thread->OnStart));
    EXPECT_TRUE(static_cast<bool>(thread->OnProcessStopped));
    handler.reset();
    EXPECT_FALSE(static_cast<bool>(thread->OnStart));
    EXPECT_FALSE(static_cast<bool>(thread->OnStop));
    EXPECT_FALSE(static_cast<bool>(thread->OnProcessStarted));
    EXPECT_FALSE(static_cast<bool>(thread->OnProcessStopped));
    EXPECT_FALSE(static_cast<bool>(thread->OnServiceStarted));
    EXPECT_FALSE(static_cast<bool>(thread->OnServiceStopped));
}

TEST(AlertBuilderClient, FailoverHostIsSetWhateverTheSwitchSays) {
    std::unique_ptr<TKorrinThread> thread(new TKorrinThread(true));
    TKorrinEventHandler handler(thread.get());
    TTarnwickRuntimeConfig config;
    config.PrimarySMTPTransportType = ttHost;
    config.PrimarySMTPHost = "relay.example.test";
    config.UseFailoverSMTPHost = false;
    config.FailoverSMTPHost = "backup.example.test";
    std::unique_ptr<TBWSMTPClient> client = handler.CreateSMTPClient(&config);
    EXPECT_EQ(client->TransportType, smtHost);
    EXPECT_EQ(client->PrimaryHost, "relay.example.test");
    EXPECT_EQ(client->FailoverHost, "backup.example.test");
    EXPECT_TRUE(static_cast<bool>(client->OnSendFailed));
    config.PrimarySMTPTransportType = ttDirect;
    EXPECT_EQ(handler.CreateSMTPClient(&config)->TransportType, smtDirect);
    EXPECT_EQ(handler.GetSubjectPrefix(), "[Tarnwick] ");
}

// The service module outside the service control manager (no status handle,
// so its status reports go nowhere): started on a real configuration in the
// registry, then shut down through its shutdown handler, as the service
// control manager's shutdown control would. Wine does not deliver that
// control reliably, hence the direct call.
TEST(ServiceModule, ShutdownHandlerSendsTheWindowsShutdownAlertAndWritesNoStoppingEntry) {
    TTarnwickConfig config;
    config.PrimarySMTPTransportType = ttHost;
    config.PrimarySMTPHost = Env("TW_SINK_HOST");
    config.FromEmail = "tarnwick@example.test";
    config.EmailAddresses->Add("module@example.test");
    config.RaiseStartupEvent = true;
    config.RaiseShutdownEvent = true;
    config.RaiseWindowsShutdownEvent = true;
    config.WriteAlertsToEventLog = true;
    config.TarnwickShutdownEvent = true;
    config.StartupWaitPeriod = 0;
    struct KeyCleanup {
        ~KeyCleanup() {
            TRegistry reg;
            reg.DeleteKey(TarnwickConfigKey);
        }
    } cleanup;
    {
        TRegistry reg;
        reg.DeleteKey(TarnwickConfigKey);
    }
    TServiceConfigRegAdapter().Save(config);

    TTarnwick module;
    bool started = false;
    module.ServiceStart(&module, started);
    ASSERT_TRUE(started);
    ASSERT_NE(module.MonitorThread, nullptr);
    ASSERT_NE(module.EventHandler, nullptr);
    // The start alert says monitoring has begun; a shutdown before it would
    // find the thread still loading, which sends no alerts at all.
    for (int i = 0; i < 200 && MailsTo("module@example.test").empty(); ++i)
        Sleep(50);
    ASSERT_EQ(MailsTo("module@example.test").size(), 1u);

    Section("module-shutdown");
    module.ServiceShutdown(&module);
    Section("module-after");
    EXPECT_EQ(module.MonitorThread, nullptr);
    EXPECT_EQ(module.EventHandler, nullptr);
    std::vector<Mail> mails = MailsTo("module@example.test");
    ASSERT_EQ(mails.size(), 2u);
    EXPECT_EQ(mails[1].subject, "[Tarnwick] Windows Shutdown on " + ComputerField());
    std::unique_ptr<TTarnwickConfig> stored = TServiceConfigRegAdapter().Load();
    EXPECT_GT(stored->LastShutdownTime, 0.0);

    // A second stop finds no thread and does nothing.
    bool stopped = false;
    module.ServiceStop(&module, stopped);
    EXPECT_TRUE(stopped);
}
