// The configuration store in the registry of the local machine.
//
// Layout below HKEY_LOCAL_MACHINE\SOFTWARE\Brellow\Tarnwick (the contract
// between the configuration program and the service):
//   values of the key itself   the configuration's fields; a Boolean is a
//                              REG_DWORD (0/1 written, nonzero read as true);
//                              "LastShutdownTime" a REG_BINARY double that
//                              only the service writes
//   EmailAddresses\            one REG_SZ per recipient, saved as "0".."n-1"
//                              in the list's order, loaded whatever the names
//   Services\<ServiceName>\    ServiceName and the entry's three switches
//   Processes\<file name>\     ApplicationPath and the entry's two switches
// Key names compare without regard to letter case, so the store holds one
// service per service name and one program per file name.
#pragma once

#include <memory>
#include <string>

#include "config/TarnwickConfigAdapter.h"

// The configuration key below HKEY_LOCAL_MACHINE.
extern const char* const TarnwickConfigKey;
// The monitor's Windows service, and the named event it waits on, which the
// configuration program sets after a save so that the service reloads.
extern const char* const TarnwickServiceName;  // "Tarnwick"
extern const char* const TarnwickControlEventName;  // "Global\TARN_WICK_CTRL_EVNT"
// The value the service writes when it stops; Save leaves it alone.
extern const char* const LastShutdownTimeValue;

// Whether two programs' paths are stored under one subkey: their file names
// are one key name.
bool SameProcessSubkey(const std::string& path1, const std::string& path2);

class TServiceConfigRegAdapter : public TConfigAdapter {
public:
    // Writes every value of the configuration key except LastShutdownTime and
    // replaces the recipients, services and programs. Before it writes
    // anything it raises ERegistryException naming the entry when a service
    // name or a program's file name cannot be a key name, or when two
    // entries of one list would share a subkey. Not atomic: a failed write
    // raises ERegistryException, and what was written before it stays so;
    // but each list's new entries are written before the old ones are
    // deleted, and a failure removes the subkeys that save had created, so
    // no stored service or program is lost by a save that fails.
    void Save(const TTarnwickConfig& config) override;
    // Without a readable configuration key: the configuration as
    // constructed. Otherwise a missing value keeps the constructed default,
    // except StartupWaitPeriod (90) and LastShutdownTime (0); missing
    // subkeys leave their lists empty. A value of the wrong type or size
    // raises ERegistryException naming it.
    std::unique_ptr<TTarnwickConfig> Load() override;

    // One service subkey as an entry of entryClass; none when the subkey
    // cannot be opened or has no "ServiceName" value.
    std::unique_ptr<TServiceConfig> LoadService(const std::string& subkeyName,
                                                const TServiceConfigClass* entryClass);
    // One program subkey as an entry of entryClass; none when the subkey
    // cannot be opened or has no "ApplicationPath" value.
    std::unique_ptr<TProcessConfig> LoadProcess(const std::string& subkeyName,
                                                const TProcessConfigClass* entryClass);
    // Writes the entry into the subkey named by its ServiceName.
    void SaveService(const TServiceConfig& entry);
    // Writes the entry into the subkey named by its file name.
    void SaveProcess(const TProcessConfig& entry);
};
