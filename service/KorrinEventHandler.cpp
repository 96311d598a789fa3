#include "KorrinEventHandler.h"

#include <windows.h>
#include <psapi.h>

#include "lib/BWDebug.h"
#include "lib/BWResources.h"
#include "lib/BWStringUtils.h"
#include "rtl/Events.h"
#include "rtl/SysUtils.h"
#include "service/TarnwickRuntimeConfig.h"
#include "service/twmessages.h"
#include "win32/ServiceControl.h"

namespace {

constexpr std::size_t kNameColumn = 32;

// Lower-cased (letters A to Z only) and padded with blanks to the name
// column; a longer name stays whole.
std::string ListName(const std::string& name) {
    std::string s = LowerCaseAZ(name);
    if (s.size() < kNameColumn)
        s.append(kNameColumn - s.size(), ' ');
    return s;
}

std::string JoinLines(const std::vector<std::string>& lines) {
    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0)
            text += "\r\n";
        text += lines[i];
    }
    return text;
}

}  // namespace

TKorrinEventHandler::TKorrinEventHandler(TKorrinThread* thread) : Thread(thread) {
    Thread->OnProcessStopped = [this](TObject* s, TMonitoredProcess* p) { HandleProcessStopped(s, p); };
    Thread->OnProcessStarted = [this](TObject* s, TMonitoredProcess* p) { HandleProcessStarted(s, p); };
    Thread->OnServiceStopped = [this](TObject* s, TMonitoredService* v) { HandleServiceStopped(s, v); };
    Thread->OnServiceStarted = [this](TObject* s, TMonitoredService* v) { HandleServiceStarted(s, v); };
    Thread->OnStart = [this](TObject* s) { HandleStart(s); };
    Thread->OnStop = [this](TObject* s) { HandleStop(s); };
}

TKorrinEventHandler::~TKorrinEventHandler() {
    if (Thread != nullptr) {
        Thread->OnProcessStopped = nullptr;
        Thread->OnProcessStarted = nullptr;
        Thread->OnServiceStopped = nullptr;
        Thread->OnServiceStarted = nullptr;
        Thread->OnStart = nullptr;
        Thread->OnStop = nullptr;
    }
    FReporter.reset();
}

TBWEventLogReporter* TKorrinEventHandler::GetEventLogReporter() {
    if (!FReporter)
        FReporter.reset(new TBWEventLogReporter("Tarnwick"));
    return FReporter.get();
}

std::string TKorrinEventHandler::GetSubjectPrefix() const {
    return "[Tarnwick] ";
}

const std::string& TKorrinEventHandler::CachedTemplate(std::string& cache, const char* name) {
    if (cache.empty())
        cache = GetResourceString(name, TEMPLATE_RESOURCE_TYPE);
    return cache;
}

const std::string& TKorrinEventHandler::GetServiceShutdownTemplate() {
    return CachedTemplate(FServiceShutdownTemplate, TEMPLATE_SERVICE_SHUTDOWN);
}
const std::string& TKorrinEventHandler::GetServiceStartupTemplate() {
    return CachedTemplate(FServiceStartupTemplate, TEMPLATE_SERVICE_STARTUP);
}
const std::string& TKorrinEventHandler::GetProcessShutdownTemplate() {
    return CachedTemplate(FProcessShutdownTemplate, TEMPLATE_PROCESS_SHUTDOWN);
}
const std::string& TKorrinEventHandler::GetProcessStartupTemplate() {
    return CachedTemplate(FProcessStartupTemplate, TEMPLATE_PROCESS_STARTUP);
}

void TKorrinEventHandler::SMTPLog(TObject*, TBWLogLevel, int, const std::string&) {}

void TKorrinEventHandler::SMTPSendFailed(TObject*, TStringList& FailedRecipients) {
    // During a Windows shutdown the event log may already be going away, and
    // an entry for a mail that could not leave a stopping machine helps no one.
    if (Thread->SystemShutdown)
        return;
    std::string text;
    for (int i = 0; i < FailedRecipients.Count(); ++i)
        text += FailedRecipients.Strings(i) + "\r\n";
    GetEventLogReporter()->Report(MSG_SMTP_SEND_FAILED, {text});
}

std::unique_ptr<TBWSMTPClient> TKorrinEventHandler::CreateSMTPClient(
    TTarnwickRuntimeConfig* Config) {
    std::unique_ptr<TBWSMTPClient> client(new TBWSMTPClient());
    client->OnLog = [this](TObject* s, TBWLogLevel l, int c, const std::string& m) {
        SMTPLog(s, l, c, m);
    };
    client->OnSendFailed = [this](TObject* s, TStringList& failed) { SMTPSendFailed(s, failed); };
    ApplySMTPRoute(*Config, *client);
    return client;
}

void TKorrinEventHandler::SendAlert(TTarnwickRuntimeConfig& config, const std::string& subject,
                                    const std::string& body) {
    std::unique_ptr<TBWSMTPClient> client = CreateSMTPClient(&config);
    // The configuration's own list: the client drops invalid addresses from it.
    client->Send(config.FromEmail, *config.EmailAddresses, subject, body, nullptr);
}

// ---- gathering

void TKorrinEventHandler::GatherTemplateFields(TMonitoredProcessBase* Process,
                                               TMonitoredService* Service,
                                               const SERVICE_STATUS* Status, std::int32_t Count,
                                               TTemplateFields& Fields) {
    ::GatherTemplateFields(Process, Service, Status, Count, Fields);
}

void TKorrinEventHandler::GatherTarnwickTemplateFields(TObject*, TTarnwickTemplateFields& Fields) {
    ::GatherTarnwickTemplateFields(Fields);
}

std::string TKorrinEventHandler::BuildServiceList(TTarnwickRuntimeConfig& Config,
                                                  TMonitoredServiceList& Watched) {
    std::vector<std::string> lines;
    for (int i = 0; i < Config.RuntimeServices->Count(); ++i) {
        const std::string& name = Config.RuntimeServices->GetItem(i)->ServiceName;
        lines.push_back(ListName(name) + (Watched.IndexOfName(name) >= 0 ? "Running" : "Stopped"));
    }
    return JoinLines(lines);
}

std::string TKorrinEventHandler::BuildProcessList(TTarnwickRuntimeConfig& Config,
                                                  TMonitoredProcessList& Watched) {
    std::vector<std::string> lines;
    for (int i = 0; i < Config.RuntimeProcesses->Count(); ++i) {
        TProcessRuntimeConfig* entry = Config.RuntimeProcesses->GetItem(i);
        int count = Watched.CountForConfig(entry);
        lines.push_back(ListName(entry->ExeName) + (count > 0 ? IntToStr(count) : "None"));
    }
    return JoinLines(lines);
}

// ---- the six handlers

void TKorrinEventHandler::HandleStart(TObject* Sender) {
    DebugTrace("Writing to the event log");
    TTarnwickRuntimeConfig& config = *Thread->Config;
    TTarnwickTemplateFields fields;
    GatherTarnwickTemplateFields(Sender, fields);
    if (config.WriteAlertsToEventLog && config.TarnwickStartupEvent)
        GetEventLogReporter()->Report(MSG_MONITOR_STARTUP,
                                      {fields.CurrentTime, fields.ComputerName, fields.BootTime});
    if (config.RaiseStartupEvent) {
        std::string body = FillTarnwickTemplate(
            GetResourceString(TEMPLATE_TARNWICK_STARTUP, TEMPLATE_RESOURCE_TYPE), fields);
        body = ReplacePlaceholder(body, PLACEHOLDER_SERVICELIST,
                                  BuildServiceList(config, *Thread->WatchedServices));
        body = ReplacePlaceholder(body, PLACEHOLDER_PROCESSLIST,
                                  BuildProcessList(config, *Thread->WatchedProcesses));
        SendAlert(config, GetSubjectPrefix() + "Tarnwick Startup on " + fields.ComputerName, body);
    }
    CallGuarded(AfterStart, Sender);
}

void TKorrinEventHandler::HandleStop(TObject* Sender) {
    TTarnwickRuntimeConfig& config = *Thread->Config;
    const bool systemShutdown = Thread->SystemShutdown;
    TTarnwickTemplateFields fields;
    GatherTarnwickTemplateFields(Sender, fields);
    if (config.WriteAlertsToEventLog && config.TarnwickShutdownEvent && !systemShutdown)
        GetEventLogReporter()->Report(MSG_MONITOR_SHUTDOWN,
                                      {fields.CurrentTime, fields.ComputerName, fields.BootTime});
    if (config.RaiseShutdownEvent || config.RaiseWindowsShutdownEvent) {
        // During a Windows shutdown only RaiseWindowsShutdownEvent decides,
        // otherwise only RaiseShutdownEvent.
        std::string subject, templateText;
        if (systemShutdown) {
            if (config.RaiseWindowsShutdownEvent) {
                subject = GetSubjectPrefix() + "Windows Shutdown on " + fields.ComputerName;
                templateText = GetResourceString(TEMPLATE_WINDOWS_SHUTDOWN, TEMPLATE_RESOURCE_TYPE);
            }
        } else if (config.RaiseShutdownEvent) {
            subject = GetSubjectPrefix() + "Tarnwick Shutdown on " + fields.ComputerName;
            templateText = GetResourceString(TEMPLATE_TARNWICK_SHUTDOWN, TEMPLATE_RESOURCE_TYPE);
        }
        if (!templateText.empty())
            SendAlert(config, subject, FillTarnwickTemplate(templateText, fields));
    }
    CallGuarded(AfterStop, Sender);
}

void TKorrinEventHandler::HandleServiceStarted(TObject* Sender, TMonitoredService* Service) {
    TTarnwickRuntimeConfig& config = *Thread->Config;
    TTemplateFields f;
    GatherTemplateFields(Service->Process(), Service, nullptr, 0, f);
    if (config.WriteAlertsToEventLog && config.ServiceStartupEvent)
        GetEventLogReporter()->Report(MSG_SERVICE_STARTUP, {f.DisplayName, f.ServiceName,
                                                            f.ProcessName, f.OwnerUserName,
                                                            f.StartTime});
    if (Service->Config()->RaiseStartupEvent)
        SendAlert(config,
                  GetSubjectPrefix() + "Service Startup: " + Service->Config()->ServiceName +
                      " on " + f.ComputerName,
                  FillTemplate(GetServiceStartupTemplate(), f));
    CallGuarded(AfterServiceStarted, Sender, Service);
}

void TKorrinEventHandler::HandleServiceStopped(TObject* Sender, TMonitoredService* Service) {
    TTarnwickRuntimeConfig& config = *Thread->Config;
    SERVICE_STATUS status{};
    const bool haveStatus = Service->GetStatus(status);
    TTemplateFields f;
    GatherTemplateFields(Service->Process(), Service, haveStatus ? &status : nullptr, 0, f);
    if (config.WriteAlertsToEventLog && config.ServiceShutdownEvent)
        GetEventLogReporter()->Report(
            MSG_SERVICE_SHUTDOWN,
            {f.DisplayName, f.ServiceName, f.Win32ExitCode, f.Win32ExitCodeStr,
             f.ServiceSpecificExitCode, f.ProcessName, f.OwnerUserName, f.StartTime,
             f.ShutdownTime, f.KernelTime, f.UserTime, f.TotalTime, f.PageFaultCount,
             f.PeakWorkingSetSize, f.PeakPagedPool, f.PeakNonPagedPool, f.PeakPagefile});
    // Without a status the exit code is unknown; such a stop is reported, since
    // a failure-only alert that stays silent about an unknown end could hide one.
    const bool failed = !haveStatus || status.dwWin32ExitCode != 0;
    if (Service->Config()->RaiseShutdownEvent &&
        (!Service->Config()->OnlyShutdownFailureEvent || failed))
        SendAlert(config,
                  GetSubjectPrefix() + "Service Shutdown: " + Service->Config()->ServiceName +
                      " on " + f.ComputerName,
                  FillTemplate(GetServiceShutdownTemplate(), f));
    CallGuarded(AfterServiceStopped, Sender, Service);
}

void TKorrinEventHandler::HandleProcessStarted(TObject* Sender, TMonitoredProcess* Process) {
    TTarnwickRuntimeConfig& config = *Thread->Config;
    // The new process is already in the list.
    int count = Thread->WatchedProcesses->CountForConfig(Process->Config());
    TTemplateFields f;
    GatherTemplateFields(Process, nullptr, nullptr, count, f);
    if (config.WriteAlertsToEventLog && config.ProcessStartupEvent)
        GetEventLogReporter()->Report(MSG_PROCESS_STARTUP,
                                      {f.ShortProcessName, f.ProcessName, f.OwnerUserName,
                                       f.StartTime, f.ProcessInstanceCount});
    if (Process->Config()->RaiseStartupEvent)
        SendAlert(config,
                  GetSubjectPrefix() + "Process Startup: " + Process->Config()->ExeName + " on " +
                      f.ComputerName,
                  FillTemplate(GetProcessStartupTemplate(), f));
    CallGuarded(AfterProcessStarted, Sender, Process);
}

void TKorrinEventHandler::HandleProcessStopped(TObject* Sender, TMonitoredProcess* Process) {
    TTarnwickRuntimeConfig& config = *Thread->Config;
    // The stopped process is still in the list: the rest remain.
    int count = Thread->WatchedProcesses->CountForConfig(Process->Config()) - 1;
    TTemplateFields f;
    GatherTemplateFields(Process, nullptr, nullptr, count, f);
    if (config.WriteAlertsToEventLog && config.ProcessTerminationEvent)
        GetEventLogReporter()->Report(
            MSG_PROCESS_SHUTDOWN,
            {f.ShortProcessName, f.ProcessExitCode, f.ProcessName, f.OwnerUserName, f.StartTime,
             f.ShutdownTime, f.KernelTime, f.UserTime, f.TotalTime, f.ProcessInstanceCount,
             f.PageFaultCount, f.PeakWorkingSetSize, f.PeakPagedPool, f.PeakNonPagedPool,
             f.PeakPagefile});
    if (Process->Config()->RaiseShutdownEvent)
        SendAlert(config,
                  GetSubjectPrefix() + "Process Shutdown: " + Process->Config()->ExeName + " on " +
                      f.ComputerName,
                  FillTemplate(GetProcessShutdownTemplate(), f));
    CallGuarded(AfterProcessStopped, Sender, Process);
}
