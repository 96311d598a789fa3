#include "TarnwickConfig.h"

#include "lib/BWSMTPClient.h"
#include "rtl/SysUtils.h"

TServiceConfig::TServiceConfig(const std::string& serviceName, bool raiseStartupEvent,
                               bool raiseShutdownEvent, bool onlyShutdownFailureEvent)
    : ServiceName(serviceName),
      RaiseStartupEvent(raiseStartupEvent),
      RaiseShutdownEvent(raiseShutdownEvent),
      OnlyShutdownFailureEvent(onlyShutdownFailureEvent) {}

TProcessConfig::TProcessConfig(const std::string& applicationPath, bool raiseStartupEvent,
                               bool raiseShutdownEvent)
    : ApplicationPath(applicationPath),
      RaiseStartupEvent(raiseStartupEvent),
      RaiseShutdownEvent(raiseShutdownEvent) {}

// ---- lists

TServiceConfig* TServiceConfigList::GetItem(int index) const {
    return CheckedCast<TServiceConfig>(TBWList::GetItem(index));
}

const TServiceConfigClass* TServiceConfigList::ItemClass() const {
    return ClassOf<TServiceConfig>();
}

int TServiceConfigList::IndexOfName(const std::string& name) const {
    const std::string wanted = LowerCaseAZ(name);
    for (int i = 0; i < Count(); ++i)
        if (LowerCaseAZ(GetItem(i)->ServiceName) == wanted)
            return i;
    return -1;
}

TProcessConfig* TProcessConfigList::GetItem(int index) const {
    return CheckedCast<TProcessConfig>(TBWList::GetItem(index));
}

const TProcessConfigClass* TProcessConfigList::ItemClass() const {
    return ClassOf<TProcessConfig>();
}

int TProcessConfigList::IndexOfPath(const std::string& path) const {
    const std::string wanted = LowerCaseAZ(path);
    for (int i = 0; i < Count(); ++i)
        if (LowerCaseAZ(GetItem(i)->ApplicationPath) == wanted)
            return i;
    return -1;
}

// ---- configuration

const TProcessConfigListClass* TTarnwickConfigClass::ProcessListClass() const {
    return ClassOf<TProcessConfigList>();
}

const TServiceConfigListClass* TTarnwickConfigClass::ServiceListClass() const {
    return ClassOf<TServiceConfigList>();
}

std::unique_ptr<TTarnwickConfig> TTarnwickConfigClass::Create() const {
    return std::unique_ptr<TTarnwickConfig>(new TTarnwickConfig(*this));
}

const TTarnwickConfigClass* TTarnwickConfig::Class() {
    static const TTarnwickConfigClass instance;
    return &instance;
}

TTarnwickConfig::TTarnwickConfig() : TTarnwickConfig(*Class()) {}

TTarnwickConfig::TTarnwickConfig(const TTarnwickConfigClass& classType)
    : FClassType(&classType) {
    Services = classType.ServiceListClass()->Create(true);
    Processes = classType.ProcessListClass()->Create(true);
    EmailAddresses = std::make_unique<TStringList>();
    EmailAddresses->SetSorted(true);
    EmailAddresses->SetDuplicates(TDuplicates::dupIgnore);
    EmailAddresses->SetCaseSensitive(false);
}

TTarnwickConfig::~TTarnwickConfig() {
    Services.reset();
    Processes.reset();
    EmailAddresses.reset();
}

void ApplySMTPRoute(const TTarnwickConfig& Config, TBWSMTPClient& Client) {
    switch (Config.PrimarySMTPTransportType) {
    case ttDirect: Client.TransportType = smtDirect; break;
    case ttHost: Client.TransportType = smtHost; break;
    default: break;  // the client's own default
    }
    Client.PrimaryHost = Config.PrimarySMTPHost;
    Client.FailoverHost = Config.FailoverSMTPHost;
}
