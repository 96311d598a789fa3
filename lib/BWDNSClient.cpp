#include "BWDNSClient.h"

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <vector>

#include "net/BWMailNet.h"
#include "rtl/Handles.h"

const char* const TBWDNSClient::RootNameServer = "a.root-servers.net";

namespace {

int __stdcall DefaultGetVersionEx(_OSVERSIONINFOA* info) {
    return GetVersionExA(info);
}

unsigned long __stdcall DefaultGetNetworkParams(void* info, unsigned long* size) {
    return GetNetworkParams(static_cast<FIXED_INFO*>(info), size);
}

// The "NameServer" string of the TCP/IP parameters; empty when the key or
// the value is missing.
std::string ReadNameServer(const std::string& keyPath) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return std::string();
    TRegKey owned(key);
    std::string value;
    DWORD type = 0, size = 0;
    LONG rc = RegQueryValueExA(key, "NameServer", nullptr, &type, nullptr, &size);
    if (rc == ERROR_SUCCESS) {
        if (type != REG_SZ && type != REG_EXPAND_SZ)
            throw ERegistryException("Invalid data type for 'NameServer'");
        std::vector<char> buffer(size + 1, '\0');
        rc = RegQueryValueExA(key, "NameServer", nullptr, &type,
                              reinterpret_cast<BYTE*>(buffer.data()), &size);
        if (rc == ERROR_SUCCESS)
            value.assign(buffer.data());  // up to the first NUL
    }
    return value;
}

}  // namespace

TBWDNSClient::TBWDNSClient()
    : GetVersionExFunc(&DefaultGetVersionEx), GetNetworkParamsFunc(&DefaultGetNetworkParams) {}

std::string TBWDNSClient::GetDNSServer() {
    if (!CachedDNSServer.empty())
        return CachedDNSServer;

    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;  // 148
    if (!GetVersionExFunc(&version))
        RaiseLastOSError();

    if (version.dwMajorVersion <= 4) {
        CachedDNSServer = ReadNameServer(TcpipParametersKey);
        // Blanks separate several servers there; commas are not looked at.
        std::size_t blank = CachedDNSServer.find(' ');
        if (blank != std::string::npos)
            CachedDNSServer.erase(blank);
    } else {
        std::vector<unsigned char> buffer(2048);
        unsigned long size = static_cast<unsigned long>(buffer.size());
        for (;;) {
            unsigned long rc = GetNetworkParamsFunc(buffer.data(), &size);
            if (rc == ERROR_SUCCESS) {
                const FIXED_INFO* info = reinterpret_cast<const FIXED_INFO*>(buffer.data());
                const char* address = info->DnsServerList.IpAddress.String;
                std::size_t len = 0;
                while (len < sizeof info->DnsServerList.IpAddress.String && address[len] != '\0')
                    ++len;
                CachedDNSServer.assign(address, len);
                break;
            }
            if (rc != ERROR_BUFFER_OVERFLOW) {
                CachedDNSServer.clear();
                break;
            }
            size += 16;
            buffer.resize(size);
        }
    }

    if (!CachedDNSServer.empty())
        return CachedDNSServer;
    return RootNameServer;
}

void TBWDNSClient::GetMXRecords(const std::string& Domain, TStringList& List) {
    TBWDNSResolver resolver;
    try {
        resolver.Host = GetDNSServer();
        resolver.RecursionDesired = true;
        resolver.ReceiveTimeout = ReceiveTimeout;
        resolver.QueryType = bwdns::kTypeMX;
        resolver.Activate();
        std::vector<bwdns::TDnsRecord> records = resolver.Resolve(Domain);
        resolver.Deactivate();
        for (const bwdns::TDnsRecord& r : records)
            if (r.Type == bwdns::kTypeMX)
                List.AddData(r.Exchange, r.Preference);
        // Exchange-based insertion sort with the list's own comparison: the
        // lists are a handful of entries long.
        for (int i = 1; i < List.Count(); ++i)
            for (int j = i; j > 0 && CompareMXPreference(List, j - 1, j) > 0; --j)
                List.Exchange(j - 1, j);
    } catch (...) {
        // Whatever went wrong, the caller falls back to the domain itself.
    }
    if (List.Count() == 0)
        List.Add(Domain);
}

int TBWDNSClient::CompareMXPreference(TStringList& List, int Index1, int Index2) {
    std::intptr_t p1 = List.Data(Index1);
    std::intptr_t p2 = List.Data(Index2);
    if (p2 < p1)
        return 1;
    if (p1 < p2)
        return -1;
    return 0;
}
