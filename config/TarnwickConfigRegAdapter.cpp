#include "TarnwickConfigRegAdapter.h"

#include <functional>
#include <set>
#include <vector>

#include "rtl/Registry.h"
#include "rtl/SysUtils.h"

const char* const TarnwickConfigKey = "SOFTWARE\\Brellow\\Tarnwick";
const char* const TarnwickServiceName = "Tarnwick";
const char* const TarnwickControlEventName = "Global\\TARN_WICK_CTRL_EVNT";
const char* const LastShutdownTimeValue = "LastShutdownTime";

bool SameProcessSubkey(const std::string& path1, const std::string& path2) {
    return TRegistry::SameKeyName(ExtractFileName(path1), ExtractFileName(path2));
}

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

// Raises, naming the entry, when one of keys (the subkey names of entries,
// in list order) cannot be a key's name, or when two of them name one key: a
// save would then fail halfway or keep only the later of the two entries.
// The 255-character limit is Windows' own. Wine (8.0) has none per name, but
// its ANSI registry functions take at most 260 characters of path: there a
// name of about 230 to 255 characters passes this check and fails at its
// write, which ReplaceSubkeys makes harmless.
void CheckSubkeyNames(const std::vector<std::string>& entries,
                      const std::vector<std::string>& keys, const char* invalid,
                      const char* shared) {
    TKeyNames seen;
    for (size_t i = 0; i < keys.size(); ++i) {
        if (!TRegistry::ValidKeyName(keys[i]))
            throw ERegistryException(Format(invalid, entries[i].c_str()));
        int earlier = seen.IndexOf(keys[i]);
        if (earlier >= 0)
            throw ERegistryException(Format(shared, entries[earlier].c_str(), entries[i].c_str()));
        seen.Add(keys[i]);
    }
}

// Writes entry i of a list into its subkey keys[i] of listKey, all of them,
// and only then deletes the subkeys no entry is stored under, so that no
// stored entry is gone before the new list is written. When a write fails,
// the subkeys this save created are deleted again before the error goes on:
// the stored list then holds what it held, some of it rewritten.
void ReplaceSubkeys(const std::string& listKey, const std::vector<std::string>& keys,
                    const std::function<void(int)>& write) {
    TStringList before;
    {
        TRegistry reg;
        reg.OpenOrCreateKey(listKey);
        reg.GetKeyNames(before);
    }
    TKeyNames stored, wanted;
    for (int b = 0; b < before.Count(); ++b)
        stored.Add(before.Strings(b));
    for (const std::string& key : keys)
        wanted.Add(key);
    size_t i = 0;
    try {
        for (; i < keys.size(); ++i)
            write(static_cast<int>(i));
    } catch (...) {
        // Only with the list's key open: DeleteKey without one works on the
        // root of the registry.
        TRegistry reg;
        if (reg.OpenOrCreateKey(listKey))
            for (size_t j = 0; j <= i && j < keys.size(); ++j)
                if (stored.IndexOf(keys[j]) < 0)
                    reg.DeleteKey(keys[j]);
        throw;
    }
    TRegistry reg;
    if (!reg.OpenOrCreateKey(listKey))
        return;
    for (int b = 0; b < before.Count(); ++b)
        if (wanted.IndexOf(before.Strings(b)) < 0)
            reg.DeleteKey(before.Strings(b));
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
    // Every entry's subkey name is checked before anything is written.
    std::vector<std::string> services, programs, programKeys;
    for (int i = 0; i < config.Services->Count(); ++i)
        services.push_back(config.Services->GetItem(i)->ServiceName);
    for (int i = 0; i < config.Processes->Count(); ++i) {
        programs.push_back(config.Processes->GetItem(i)->ApplicationPath);
        programKeys.push_back(ExtractFileName(programs.back()));
    }
    CheckSubkeyNames(services, services,
                     "The watched service '%s' cannot be saved: a service name has 1 to 255 "
                     "characters and no backslash.",
                     "The watched services '%s' and '%s' are one service: remove one of them.");
    CheckSubkeyNames(programs, programKeys,
                     "The watched program '%s' cannot be saved: its file name must have 1 to 255 "
                     "characters.",
                     "The watched programs '%s' and '%s' have the same file name: only one of "
                     "them can be monitored.");

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
        // The new list first, then whatever else the key holds goes: a
        // failed write leaves every recipient not yet overwritten.
        TRegistry reg;
        reg.OpenOrCreateKey(EmailAddressesKey);
        TStringList names;
        reg.GetValueNames(names);
        std::set<std::string> written;
        for (int i = 0; i < config.EmailAddresses->Count(); ++i) {
            written.insert(IntToStr(i));
            reg.WriteString(IntToStr(i), config.EmailAddresses->Strings(i));
        }
        for (int i = 0; i < names.Count(); ++i)
            if (written.count(names.Strings(i)) == 0)
                reg.DeleteValue(names.Strings(i));
    }

    ReplaceSubkeys(ServicesKey, services,
                   [&](int i) { SaveService(*config.Services->GetItem(i)); });
    ReplaceSubkeys(ProcessesKey, programKeys,
                   [&](int i) { SaveProcess(*config.Processes->GetItem(i)); });
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
