// The configuration as the service loads it, and the objects that stand for
// the running instances of watched programs and services.
//
// The runtime classes derive from the configuration model and take its place
// through the model's class references: TTarnwickRuntimeConfig::Class() set as
// the registry adapter's ConfigClass makes Load build a runtime configuration
// whose two lists are runtime lists and whose entries are runtime entries.
#pragma once

#include <windows.h>
#include <psapi.h>

#include <memory>
#include <string>

#include "config/TarnwickConfig.h"
#include "lib/BWList.h"
#include "rtl/DateUtils.h"
#include "rtl/Handles.h"

struct TSCServiceConfig;

class TMonitoredProcess;
class TMonitoredService;
class TMonitoredServiceProcess;

// ---- runtime configuration

// A watched service entry; the model's fields and constructor unchanged.
class TServiceRuntimeConfig : public TServiceConfig {
public:
    using TServiceConfig::TServiceConfig;

    // A new watched service for this entry, with its process when the service
    // runs with a process that can be opened, else without. Raises nothing
    // for a service that is not running or whose process is out of reach.
    std::unique_ptr<TMonitoredService> CreateMonitoredService();
};

// A watched program entry; adds the lower-case file name of its executable,
// against which the image names of running processes are matched.
class TProcessRuntimeConfig : public TProcessConfig {
public:
    TProcessRuntimeConfig(const std::string& applicationPath, bool raiseStartupEvent,
                          bool raiseShutdownEvent);

    // The text of ApplicationPath after its last backslash or colon (all of
    // it when it has neither), with only the letters A to Z lower-cased. Set
    // once, here.
    std::string ExeName;

    // A new watched process for this entry and process id. Raises the
    // operating-system error when the process cannot be opened; nothing is
    // created then.
    std::unique_ptr<TMonitoredProcess> CreateMonitoredProcess(DWORD processId);
};

class TServiceRuntimeConfigList : public TServiceConfigList {
public:
    using TServiceConfigList::TServiceConfigList;
    const TServiceConfigClass* ItemClass() const override;
    // The list's index errors apply; an entry of another class raises EInvalidCast.
    TServiceRuntimeConfig* GetItem(int index) const override;
};

class TProcessRuntimeConfigList : public TProcessConfigList {
public:
    using TProcessConfigList::TProcessConfigList;
    const TProcessConfigClass* ItemClass() const override;
    TProcessRuntimeConfig* GetItem(int index) const override;
};

class TTarnwickRuntimeConfigClass;

// The configuration with runtime lists from the start. RuntimeServices and
// RuntimeProcesses are the inherited Services and Processes, typed; they own
// nothing (the inherited members free the lists once).
class TTarnwickRuntimeConfig : public TTarnwickConfig {
public:
    // The class reference to hand to the registry adapter as ConfigClass.
    static const TTarnwickConfigClass* Class();
    TTarnwickRuntimeConfig();

    TServiceRuntimeConfigList* const RuntimeServices;
    TProcessRuntimeConfigList* const RuntimeProcesses;

protected:
    // Raises EInvalidCast when classType's lists are not runtime lists.
    explicit TTarnwickRuntimeConfig(const TTarnwickConfigClass& classType);
    friend class TTarnwickRuntimeConfigClass;
};

// ---- watched processes and services

// An open process: the handle is opened by the constructor with SYNCHRONIZE,
// PROCESS_QUERY_INFORMATION and PROCESS_VM_READ and closed exactly once, by
// the destructor. It stays open for the object's whole life, so the exit code
// and times of an exited process can still be read.
class TMonitoredProcessBase : public TObject {
public:
    // Raises the operating-system error when the process cannot be opened;
    // nothing stays open then. An unreadable image path leaves ImagePath empty.
    explicit TMonitoredProcessBase(DWORD processId);
    ~TMonitoredProcessBase() override;
    TMonitoredProcessBase(const TMonitoredProcessBase&) = delete;
    TMonitoredProcessBase& operator=(const TMonitoredProcessBase&) = delete;

    DWORD ProcessId() const { return FProcessId; }
    HANDLE Handle() const { return FHandle.Get(); }
    const std::string& ImagePath() const { return FImagePath; }

    // GetExitCodeProcess; 0xFFFFFFFF when the call fails.
    DWORD GetExitCode() const;
    // The handle is signalled, or GetExitCode is not STILL_ACTIVE (259): a
    // process that ended with exit code 259 has exited all the same, and a
    // failed query counts as exited.
    bool HasExited() const;
    // Owner of the process's token (not its user) as domain\name; empty when
    // the token or the account cannot be read.
    std::string GetOwnerName() const;
    // Creation and exit time as points in time in UTC (exit 0.0 while the
    // process runs); kernel and user time as spans in days. False and the
    // outputs untouched when the times cannot be read.
    bool GetTimes(TDateTime& creationTime, TDateTime& exitTime, double& kernelTime,
                  double& userTime) const;
    // The 40-byte counters record; false (record contents unspecified beyond
    // its size field) when it cannot be read.
    bool GetMemoryCounters(PROCESS_MEMORY_COUNTERS& counters) const;

private:
    DWORD FProcessId;
    TKernelHandle FHandle;
    std::string FImagePath;
};

// A running instance of a watched program.
class TMonitoredProcess : public TMonitoredProcessBase {
public:
    // As the base constructor; config is not owned.
    TMonitoredProcess(TProcessRuntimeConfig* config, DWORD processId);
    TProcessRuntimeConfig* Config() const { return FConfig; }

private:
    TProcessRuntimeConfig* FConfig;
};

// The process of a watched service; owned by that service.
class TMonitoredServiceProcess : public TMonitoredProcessBase {
public:
    TMonitoredServiceProcess(TMonitoredService* service, DWORD processId);
    TMonitoredService* Service() const { return FService; }

private:
    TMonitoredService* FService;
};

// A running watched service with its process, when that could be opened.
class TMonitoredService : public TObject {
public:
    // Stores config (not owned) and looks up the service's process at once.
    explicit TMonitoredService(TServiceRuntimeConfig* config);
    // Frees the process object, closing its handle.
    ~TMonitoredService() override;
    TMonitoredService(const TMonitoredService&) = delete;
    TMonitoredService& operator=(const TMonitoredService&) = delete;

    // Owned; null when the service had no process that could be opened when
    // this object was created.
    TMonitoredServiceProcess* Process() const { return FProcess.get(); }
    TServiceRuntimeConfig* Config() const { return FConfig; }

    // A new process object for the service's current process: null when the
    // service is not running, reports no process id, its process cannot be
    // opened or the service control manager cannot be reached. Raises nothing.
    std::unique_ptr<TMonitoredServiceProcess> FindProcess();
    // The service's current status; false when it cannot be read. Raises the
    // operating-system error when the service control manager cannot be opened.
    bool GetStatus(SERVICE_STATUS& status) const;
    // The service's configuration (display name and more); as GetStatus.
    bool GetConfigInfo(TSCServiceConfig& info) const;

private:
    TServiceRuntimeConfig* FConfig;
    std::unique_ptr<TMonitoredServiceProcess> FProcess;
};

// Watched processes of programs; owns them.
class TMonitoredProcessList : public TBWList {
public:
    TMonitoredProcessList() : TBWList(true) {}
    // Takes ownership; returns the new index.
    int Add(TMonitoredProcess* process) { return TBWList::Add(process); }
    TMonitoredProcess* GetItem(int index) const override;
    // First item with this process id, or -1.
    int IndexOfProcessId(DWORD processId) const;
    // Items whose Config is this very entry (not an equal one).
    int CountForConfig(const TProcessRuntimeConfig* config) const;
};

// Watched services; owns them (and through them their processes).
class TMonitoredServiceList : public TBWList {
public:
    TMonitoredServiceList() : TBWList(true) {}
    int Add(TMonitoredService* service) { return TBWList::Add(service); }
    TMonitoredService* GetItem(int index) const override;
    // First item whose service name equals serviceName after both are
    // lower-cased in the letters A to Z only; -1 when none.
    int IndexOfName(const std::string& serviceName) const;
};

// The processes of the watched services; owns nothing (their services do).
class TMonitoredServiceProcessList : public TBWList {
public:
    TMonitoredServiceProcessList() : TBWList(false) {}
    int Add(TMonitoredServiceProcess* process) { return TBWList::Add(process); }
    TMonitoredServiceProcess* GetItem(int index) const override;
};
