#include "TarnwickConfigRegAdapter.h"

#include "rtl/Registry.h"
#include "rtl/SysUtils.h"

const char* const TarnwickConfigKey = "SOFTWARE\\Brellow\\Tarnwick";
const char* const LastShutdownTimeValue = "LastShutdownTime";

namespace {

const std::string ConfigKey = TarnwickConfigKey;
const std::string EmailAddressesKey = ConfigKey + "\\EmailAddresses";
const std::string ServicesKey = ConfigKey + "\\Services";
const std::string ProcessesKey = ConfigKey + "\\Processes";

// Reads the value into the field when it exists; leaves the field otherwise.
void LoadString(const TRegistry& reg, const char* name, std::string& field) {
    if (reg.ValueExists(name))
        field = reg.ReadString(name);
}

void LoadBool(const TRegistry& reg, const char* name, bool& field) {
    if (reg.ValueExists(name))
        field = reg.ReadBool(name);
}

}  // namespace

std::unique_ptr<TTarnwickConfig> TServiceConfigRegAdapter::Load() {
    // Created before the key is opened: a configuration comes back in every
    // case that does not raise.
    std::unique_ptr<TTarnwickConfig> config = ConfigClass->Create();

    {
        TRegistry reg;
        if (!reg.OpenKeyReadOnly(ConfigKey))
            return config;
        if (reg.ValueExists("PrimarySMTPTransportType")) {
            // Exact, case-sensitive match; any other text keeps the default.
            std::string transport = reg.ReadString("PrimarySMTPTransportType");
            if (transport == "Direct")
                config->PrimarySMTPTransportType = ttDirect;
            else if (transport == "Host")
                config->PrimarySMTPTransportType = ttHost;
        }
        LoadString(reg, "PrimarySMTPHost", config->PrimarySMTPHost);
        LoadBool(reg, "UseFailoverSMTPHost", config->UseFailoverSMTPHost);
        LoadString(reg, "FailoverSMTPHost", config->FailoverSMTPHost);
        LoadString(reg, "FromEmail", config->FromEmail);
        LoadBool(reg, "RaiseStartupEvent", config->RaiseStartupEvent);
        LoadBool(reg, "RaiseShutdownEvent", config->RaiseShutdownEvent);
        LoadBool(reg, "RaiseWindowsShutdownEvent", config->RaiseWindowsShutdownEvent);
        LoadBool(reg, "WriteAlertsToEventLog", config->WriteAlertsToEventLog);
        LoadBool(reg, "ServiceStartupEvent", config->ServiceStartupEvent);
        LoadBool(reg, "ServiceShutdownEvent", config->ServiceShutdownEvent);
        LoadBool(reg, "ProcessStartupEvent", config->ProcessStartupEvent);
        LoadBool(reg, "ProcessTerminationEvent", config->ProcessTerminationEvent);
        LoadBool(reg, "TarnwickStartupEvent", config->TarnwickStartupEvent);
        LoadBool(reg, "TarnwickShutdownEvent", config->TarnwickShutdownEvent);
        config->LastShutdownTime =
            reg.ValueExists(LastShutdownTimeValue) ? reg.ReadDateTime(LastShutdownTimeValue) : 0;
        // A stored configuration without a delay waits 90 seconds after a
        // boot; with no stored configuration at all the monitor does not wait.
        config->StartupWaitPeriod =
            reg.ValueExists("StartupWaitPeriod") ? reg.ReadInteger("StartupWaitPeriod") : 90;
    }

    {
        TRegistry reg;
        if (reg.OpenKeyReadOnly(EmailAddressesKey)) {
            TStringList names;
            reg.GetValueNames(names);
            for (int i = 0; i < names.Count(); ++i)
                config->EmailAddresses->Add(reg.ReadString(names.Strings(i)));
        }
    }

    TStringList names;
    {
        TRegistry reg;
        if (reg.OpenKeyReadOnly(ServicesKey))
            reg.GetKeyNames(names);
    }
    for (int i = 0; i < names.Count(); ++i) {
        std::unique_ptr<TServiceConfig> entry =
            LoadService(names.Strings(i), config->Services->ItemClass());
        if (entry) {
            config->Services->Add(entry.get());
            entry.release();
        }
    }

    names.Clear();
    {
        TRegistry reg;
        if (reg.OpenKeyReadOnly(ProcessesKey))
            reg.GetKeyNames(names);
    }
    for (int i = 0; i < names.Count(); ++i) {
        std::unique_ptr<TProcessConfig> entry =
            LoadProcess(names.Strings(i), config->Processes->ItemClass());
        if (entry) {
            config->Processes->Add(entry.get());
            entry.release();
        }
    }
    return config;
}

std::unique_ptr<TServiceConfig> TServiceConfigRegAdapter::LoadService(
    const std::string& subkeyName, const TServiceConfigClass* entryClass) {
    TRegistry reg;
    if (!reg.OpenKeyReadOnly(ServicesKey + "\\" + subkeyName) || !reg.ValueExists("ServiceName"))
        return nullptr;
    std::unique_ptr<TServiceConfig> entry =
        entryClass->Create(reg.ReadString("ServiceName"), false, false, false);
    LoadBool(reg, "RaiseStartupEvent", entry->RaiseStartupEvent);
    LoadBool(reg, "RaiseShutdownEvent", entry->RaiseShutdownEvent);
    LoadBool(reg, "OnlyShutdownFailureEvent", entry->OnlyShutdownFailureEvent);
    return entry;
}

std::unique_ptr<TProcessConfig> TServiceConfigRegAdapter::LoadProcess(
    const std::string& subkeyName, const TProcessConfigClass* entryClass) {
    TRegistry reg;
    if (!reg.OpenKeyReadOnly(ProcessesKey + "\\" + subkeyName) ||
        !reg.ValueExists("ApplicationPath"))
        return nullptr;
    std::unique_ptr<TProcessConfig> entry =
        entryClass->Create(reg.ReadString("ApplicationPath"), false, false);
    LoadBool(reg, "RaiseStartupEvent", entry->RaiseStartupEvent);
    LoadBool(reg, "RaiseShutdownEvent", entry->RaiseShutdownEvent);
    return entry;
}

void TServiceConfigRegAdapter::Save(const TTarnwickConfig& config) {
    {
        // Not examined: when the key cannot be opened or created, the first
        // write raises, naming PrimarySMTPTransportType, and nothing is written.
        TRegistry reg;
        reg.OpenOrCreateKey(ConfigKey);
        reg.WriteString("PrimarySMTPTransportType",
                        config.PrimarySMTPTransportType == ttHost ? "Host" : "Direct");
        reg.WriteString("PrimarySMTPHost", config.PrimarySMTPHost);
        reg.WriteBool("UseFailoverSMTPHost", config.UseFailoverSMTPHost);
        reg.WriteString("FailoverSMTPHost", config.FailoverSMTPHost);
        reg.WriteString("FromEmail", config.FromEmail);
        reg.WriteBool("RaiseStartupEvent", config.RaiseStartupEvent);
        reg.WriteBool("RaiseShutdownEvent", config.RaiseShutdownEvent);
        reg.WriteBool("RaiseWindowsShutdownEvent", config.RaiseWindowsShutdownEvent);
        reg.WriteInteger("StartupWaitPeriod", config.StartupWaitPeriod);
        reg.WriteBool("WriteAlertsToEventLog", config.WriteAlertsToEventLog);
        reg.WriteBool("ServiceStartupEvent", config.ServiceStartupEvent);
        reg.WriteBool("ServiceShutdownEvent", config.ServiceShutdownEvent);
        reg.WriteBool("ProcessStartupEvent", config.ProcessStartupEvent);
        reg.WriteBool("ProcessTerminationEvent", config.ProcessTerminationEvent);
        reg.WriteBool("TarnwickStartupEvent", config.TarnwickStartupEvent);
        reg.WriteBool("TarnwickShutdownEvent", config.TarnwickShutdownEvent);
    }

    {
        TRegistry reg;
        reg.OpenOrCreateKey(EmailAddressesKey);
        TStringList names;
        reg.GetValueNames(names);
        for (int i = 0; i < names.Count(); ++i)
            reg.DeleteValue(names.Strings(i));
        for (int i = 0; i < config.EmailAddresses->Count(); ++i)
            reg.WriteString(IntToStr(i), config.EmailAddresses->Strings(i));
    }

    {
        TRegistry reg;
        reg.OpenOrCreateKey(ServicesKey);
        TStringList names;
        reg.GetKeyNames(names);
        for (int i = 0; i < names.Count(); ++i)
            reg.DeleteKey(names.Strings(i));
    }
    for (int i = 0; i < config.Services->Count(); ++i)
        SaveService(*config.Services->GetItem(i));

    {
        TRegistry reg;
        reg.OpenOrCreateKey(ProcessesKey);
        TStringList names;
        reg.GetKeyNames(names);
        for (int i = 0; i < names.Count(); ++i)
            reg.DeleteKey(names.Strings(i));
    }
    for (int i = 0; i < config.Processes->Count(); ++i)
        SaveProcess(*config.Processes->GetItem(i));
}

void TServiceConfigRegAdapter::SaveService(const TServiceConfig& entry) {
    TRegistry reg;
    reg.OpenOrCreateKey(ServicesKey + "\\" + entry.ServiceName);
    reg.WriteString("ServiceName", entry.ServiceName);
    reg.WriteBool("RaiseStartupEvent", entry.RaiseStartupEvent);
    reg.WriteBool("RaiseShutdownEvent", entry.RaiseShutdownEvent);
    reg.WriteBool("OnlyShutdownFailureEvent", entry.OnlyShutdownFailureEvent);
}

void TServiceConfigRegAdapter::SaveProcess(const TProcessConfig& entry) {
    TRegistry reg;
    reg.OpenOrCreateKey(ProcessesKey + "\\" + ExtractFileName(entry.ApplicationPath));
    reg.WriteString("ApplicationPath", entry.ApplicationPath);
    reg.WriteBool("RaiseStartupEvent", entry.RaiseStartupEvent);
    reg.WriteBool("RaiseShutdownEvent", entry.RaiseShutdownEvent);
}
