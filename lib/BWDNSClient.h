// Finds the DNS server the machine uses and the mail exchangers of a domain.
#pragma once

#include <string>

#include "rtl/Classes.h"

struct _OSVERSIONINFOA;

// Looks up the mail exchangers of a recipient domain. The DNS server found
// by discovery is kept for the life of the object. Never raises from
// GetMXRecords and writes no log: a failed lookup yields the domain itself.
class TBWDNSClient : public TObject {
public:
    // Empty until a discovery finds a server.
    std::string CachedDNSServer;

    // The server to ask: the cached one, else the one discovery finds (the
    // "NameServer" registry value on Windows NT 4 and older, else the first
    // server GetNetworkParams reports), else a root name server, which is not
    // cached. Raises EOSError when the Windows version cannot be read and
    // ERegistryException when the registry value is not a string.
    std::string GetDNSServer();

    // Adds the domain's exchangers to List with their preference as the
    // entry's data, and sorts the whole list by preference; adds Domain
    // itself (data 0) when the list is still empty. List is not cleared.
    void GetMXRecords(const std::string& Domain, TStringList& List);

    // 1 when the preference at Index2 is less than at Index1, -1 when it is
    // greater, 0 when equal.
    static int CompareMXPreference(TStringList& List, int Index1, int Index2);

    // The root name server asked when discovery finds nothing.
    static const char* const RootNameServer;

    // Test seams: the platform calls discovery makes, and the MX query's
    // receive time-out in milliseconds.
    using TGetVersionExFunc = int(__stdcall*)(_OSVERSIONINFOA*);
    using TGetNetworkParamsFunc = unsigned long(__stdcall*)(void* info, unsigned long* size);
    TGetVersionExFunc GetVersionExFunc;
    TGetNetworkParamsFunc GetNetworkParamsFunc;
    std::string TcpipParametersKey = "SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters";
    int ReceiveTimeout = 10000;

    TBWDNSClient();
};
