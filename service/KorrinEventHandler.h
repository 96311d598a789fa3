// The alert builder: turns the monitor thread's six events into event-log
// entries and alert mail.
//
// One builder per run of the monitor thread. It is created while the thread
// is still suspended (its constructor hooks the thread's events) and freed
// after the thread has ended (its destructor unhooks them). Every handler runs
// on the monitor thread, inside the event call: gathering, the event-log
// entry, the MX lookups and the SMTP session all happen while the thread
// waits. The configuration read is always the thread's current one, so a
// reload changes every later alert.
//
// A handler that raises leaves the rest of its steps undone (an entry already
// written stays written; the SMTP client is freed on the way out); the thread
// catches the exception at the event call.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "lib/BWEventLog.h"
#include "lib/BWLogging.h"
#include "lib/BWSMTPClient.h"
#include "rtl/Classes.h"
#include "service/AlertTemplates.h"
#include "service/KorrinThread.h"
#include "service/TarnwickRuntimeConfig.h"

class TKorrinEventHandler : public TObject {
public:
    // Hooks the thread's events: OnProcessStopped, OnProcessStarted,
    // OnServiceStopped, OnServiceStarted, OnStart, OnStop.
    explicit TKorrinEventHandler(TKorrinThread* thread);
    // Sets the six events it hooked back to unassigned; frees the reporter.
    ~TKorrinEventHandler() override;
    TKorrinEventHandler(const TKorrinEventHandler&) = delete;
    TKorrinEventHandler& operator=(const TKorrinEventHandler&) = delete;

    TKorrinThread* Thread;  // not owned

    // Follow-on events, called last by their handler with its own arguments;
    // an exception they raise is dropped. Unassigned unless a caller sets them.
    TMonitoredProcessEvent AfterProcessStarted;
    TMonitoredProcessEvent AfterProcessStopped;
    TMonitoredServiceEvent AfterServiceStarted;
    TMonitoredServiceEvent AfterServiceStopped;
    TNotifyEvent AfterStart;
    TNotifyEvent AfterStop;

    void HandleStart(TObject* Sender);
    void HandleStop(TObject* Sender);
    void HandleProcessStarted(TObject* Sender, TMonitoredProcess* Process);
    void HandleProcessStopped(TObject* Sender, TMonitoredProcess* Process);
    void HandleServiceStarted(TObject* Sender, TMonitoredService* Service);
    void HandleServiceStopped(TObject* Sender, TMonitoredService* Service);

    // The SMTP client's events. SMTPLog does nothing; SMTPSendFailed writes
    // one error entry listing the failed recipients, gated by no switch,
    // except while Windows shuts down.
    void SMTPLog(TObject* Sender, TBWLogLevel Level, int Code, const std::string& Msg);
    void SMTPSendFailed(TObject* Sender, TStringList& FailedRecipients);

    // A new client for one alert, its route set by ApplySMTPRoute (the
    // fail-over host whatever UseFailoverSMTPHost says). The caller owns it.
    std::unique_ptr<TBWSMTPClient> CreateSMTPClient(TTarnwickRuntimeConfig* Config);

    // The reporter of the event source "Tarnwick", made on first use; it
    // lives (and keeps the source registered) until the builder is freed.
    TBWEventLogReporter* GetEventLogReporter();
    // "[Tarnwick] ", the start of every subject.
    std::string GetSubjectPrefix() const;

    // The four service and program templates are loaded once and kept.
    const std::string& GetServiceShutdownTemplate();
    const std::string& GetServiceStartupTemplate();
    const std::string& GetProcessShutdownTemplate();
    const std::string& GetProcessStartupTemplate();

    // Gathering never raises: a failed query leaves its fields empty.
    // Process and Service may be null, Status too (no status).
    void GatherTemplateFields(TMonitoredProcessBase* Process, TMonitoredService* Service,
                              const SERVICE_STATUS* Status, std::int32_t Count,
                              TTemplateFields& Fields);
    void GatherTarnwickTemplateFields(TObject* Sender, TTarnwickTemplateFields& Fields);

    // The start mail's two lists: one line per configured entry, in
    // configured order, the name lower-cased and padded to 32 characters,
    // lines joined with CR LF and no break after the last.
    static std::string BuildServiceList(TTarnwickRuntimeConfig& Config,
                                        TMonitoredServiceList& Watched);
    static std::string BuildProcessList(TTarnwickRuntimeConfig& Config,
                                        TMonitoredProcessList& Watched);

private:
    std::unique_ptr<TBWEventLogReporter> FReporter;
    std::string FServiceShutdownTemplate;
    std::string FServiceStartupTemplate;
    std::string FProcessShutdownTemplate;
    std::string FProcessStartupTemplate;

    void SendAlert(TTarnwickRuntimeConfig& config, const std::string& subject,
                   const std::string& body);
    const std::string& CachedTemplate(std::string& cache, const char* name);
};
