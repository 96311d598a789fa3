#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <vector>

#include "ScriptedDnsServer.h"
#include "lib/BWDNSClient.h"

namespace {

// Fakes of the platform calls, steered by these globals.
DWORD gMajorVersion = 6;
bool gVersionFails = false;
std::vector<unsigned long> gSizesSeen;
std::vector<unsigned long> gReportedSizes;  // ERROR_BUFFER_OVERFLOW with these, in turn
const char* gDnsAddress = "10.1.2.3";
unsigned long gOtherError = 0;

int __stdcall FakeGetVersionEx(_OSVERSIONINFOA* info) {
    if (gVersionFails) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    if (info->dwOSVersionInfoSize != 148)
        return 0;
    info->dwMajorVersion = gMajorVersion;
    return 1;
}

unsigned long __stdcall FakeGetNetworkParams(void* buffer, unsigned long* size) {
    gSizesSeen.push_back(*size);
    if (gOtherError != 0)
        return gOtherError;
    if (gSizesSeen.size() <= gReportedSizes.size()) {
        *size = gReportedSizes[gSizesSeen.size() - 1];
        return ERROR_BUFFER_OVERFLOW;
    }
    if (*size < sizeof(FIXED_INFO))
        return ERROR_BUFFER_OVERFLOW;
    FIXED_INFO* info = static_cast<FIXED_INFO*>(buffer);
    ZeroMemory(info, sizeof *info);
    // The whole 16-byte field filled, no NUL: the reader must stop at 16.
    if (std::string(gDnsAddress) == "FULL")
        memset(info->DnsServerList.IpAddress.String, '7', 16);
    else
        lstrcpynA(info->DnsServerList.IpAddress.String, gDnsAddress, 16);
    return ERROR_SUCCESS;
}

class DNSClientDiscovery : public ::testing::Test {
protected:
    void SetUp() override {
        gMajorVersion = 6;
        gVersionFails = false;
        gSizesSeen.clear();
        gReportedSizes.clear();
        gDnsAddress = "10.1.2.3";
        gOtherError = 0;
        client.GetVersionExFunc = &FakeGetVersionEx;
        client.GetNetworkParamsFunc = &FakeGetNetworkParams;
        keyPath = "SOFTWARE\\TarnwickTest\\DNS-" + std::to_string(GetCurrentProcessId()) + "-" +
                  std::to_string(GetTickCount());
        client.TcpipParametersKey = keyPath;
    }
    void TearDown() override { RegDeleteKeyA(HKEY_LOCAL_MACHINE, keyPath.c_str()); }

    void WriteNameServer(DWORD type, const void* data, DWORD size) {
        HKEY key;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, 0,
                                  KEY_WRITE, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExA(key, "NameServer", 0, type, static_cast<const BYTE*>(data), size);
        RegCloseKey(key);
    }
    void WriteNameServer(const std::string& text) {
        WriteNameServer(REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
    }

    TBWDNSClient client;
    std::string keyPath;
};

}  // namespace

TEST_F(DNSClientDiscovery, OldWindowsReadsTheRegistryUpToTheFirstBlank) {
    gMajorVersion = 4;
    WriteNameServer("192.0.2.1 192.0.2.2");
    EXPECT_EQ(client.GetDNSServer(), "192.0.2.1");
    EXPECT_EQ(client.CachedDNSServer, "192.0.2.1");
    EXPECT_TRUE(gSizesSeen.empty());

    TBWDNSClient other;
    other.GetVersionExFunc = &FakeGetVersionEx;
    other.TcpipParametersKey = keyPath;
    WriteNameServer("192.0.2.1,192.0.2.2");
    EXPECT_EQ(other.GetDNSServer(), "192.0.2.1,192.0.2.2");  // commas do not separate
}

TEST_F(DNSClientDiscovery, OldWindowsWithoutValueFallsBackWithoutCaching) {
    gMajorVersion = 3;
    EXPECT_EQ(client.GetDNSServer(), std::string(TBWDNSClient::RootNameServer));
    EXPECT_EQ(client.CachedDNSServer, "");
    WriteNameServer("192.0.2.9");
    EXPECT_EQ(client.GetDNSServer(), "192.0.2.9");  // discovered again
}

TEST_F(DNSClientDiscovery, OldWindowsWithANonStringValueRaises) {
    gMajorVersion = 4;
    DWORD number = 5;
    WriteNameServer(REG_DWORD, &number, sizeof number);
    EXPECT_THROW(client.GetDNSServer(), ERegistryException);
}

TEST_F(DNSClientDiscovery, NewWindowsAsksGetNetworkParamsOnlyAndCaches) {
    WriteNameServer("192.0.2.1");  // present, but not read on 5.0 and later
    EXPECT_EQ(client.GetDNSServer(), "10.1.2.3");
    EXPECT_EQ(client.GetDNSServer(), "10.1.2.3");
    EXPECT_EQ(gSizesSeen.size(), 1u);  // the second call used the cache
    EXPECT_EQ(gSizesSeen[0], 2048u);
}

TEST_F(DNSClientDiscovery, BufferGrowsToTheReportedSizePlus16) {
    gReportedSizes = {3000, 5000};
    EXPECT_EQ(client.GetDNSServer(), "10.1.2.3");
    EXPECT_EQ(gSizesSeen, (std::vector<unsigned long>{2048, 3016, 5016}));
}

TEST_F(DNSClientDiscovery, EmptyOrFailedDiscoveryUsesTheRootServerEachTime) {
    gDnsAddress = "";
    EXPECT_EQ(client.GetDNSServer(), std::string(TBWDNSClient::RootNameServer));
    EXPECT_EQ(client.CachedDNSServer, "");
    gOtherError = ERROR_NOT_SUPPORTED;
    EXPECT_EQ(client.GetDNSServer(), std::string(TBWDNSClient::RootNameServer));
    EXPECT_EQ(gSizesSeen.size(), 2u);
    gOtherError = 0;
    gDnsAddress = "FULL";
    EXPECT_EQ(client.GetDNSServer(), std::string(16, '7'));
}

TEST_F(DNSClientDiscovery, FailingVersionQueryRaisesTheSystemError) {
    gVersionFails = true;
    try {
        client.GetDNSServer();
        FAIL() << "no exception";
    } catch (const EOSError& e) {
        EXPECT_EQ(e.ErrorCode, 5u);
        EXPECT_EQ(e.Message().substr(0, 25), "System Error.  Code: 5.\r\n");
    }
    // Inside GetMXRecords the failure only means "the domain itself".
    TStringList list;
    client.GetMXRecords("example.test", list);
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list.Strings(0), "example.test");
}

// ---------------------------------------------------------------------------
// Lookups against a scripted server. Wine binds a UDP socket to the wildcard
// address whatever address it is given (so that it gets broadcasts), and a
// reply would then come from 127.0.0.1: the server takes 127.0.0.1 itself,
// and all scenarios run in one test, so one process holds port 53 at a time.

namespace {

std::vector<std::string> Entries(const TStringList& list) {
    std::vector<std::string> out;
    for (int i = 0; i < list.Count(); ++i)
        out.push_back(list.Strings(i) + "/" + std::to_string(list.Data(i)));
    return out;
}

enum class TMode { Sorted, Noise, NoMX, NXDomain, Truncated, Silent };

}  // namespace

TEST(DNSClientLookup, AgainstAScriptedServer) {
    std::atomic<TMode> mode{TMode::Sorted};
    TScriptedDnsServer server("127.0.0.1", [&mode](const TDnsBytes& q) {
        std::vector<TDnsBytes> out;
        switch (mode.load()) {
        case TMode::Sorted:
            out.push_back(MakeDnsReply(q, 0,
                                       {{15, 20, "mx20.example.test"},
                                        {5, 0, ""},
                                        {15, 10, "mx10.example.test"},
                                        {1, 0, ""},
                                        {15, 30, "mx30.example.test"}}));
            break;
        case TMode::Noise: {
            TDnsBytes wrongId = MakeDnsReply(q, 0, {{15, 5, "evil.test"}});
            wrongId[1] ^= 0xFF;
            TDnsBytes cut = MakeDnsReply(q, 0, {{15, 5, "evil.test"}});
            cut.resize(cut.size() - 3);
            TDnsBytes loop = MakeDnsReply(q, 0, {});
            loop[12] = 0xC0;  // question name pointing at itself
            loop[13] = 12;
            out = {wrongId, cut, loop, TDnsBytes{1, 2, 3},
                   MakeDnsReply(q, 0, {{15, 1, "good.example.test"}})};
            break;
        }
        case TMode::NoMX:
            out.push_back(MakeDnsReply(q, 0, {{1, 0, ""}}));
            break;
        case TMode::NXDomain:
            out.push_back(MakeDnsReply(q, 3, {}));
            break;
        case TMode::Truncated: {
            TDnsBytes truncated = MakeDnsReply(q, 0, {{15, 1, "mx.example.test"}});
            truncated[2] |= 0x02;
            out.push_back(truncated);
            break;
        }
        case TMode::Silent:
            break;
        }
        return out;
    });
    if (server.BindError != 0)
        GTEST_SKIP() << "cannot bind UDP 127.0.0.1:53 (error " << server.BindError
                     << "): port 53 needs root and must be free";

    {
        SCOPED_TRACE("preferences 20, 10, 30 and records of other types");
        TBWDNSClient client;
        client.CachedDNSServer = "127.0.0.1";
        TStringList list;
        list.AddData("kept.example.test", 15);  // not cleared, sorted with the rest
        client.GetMXRecords("Example.Test", list);
        EXPECT_EQ(Entries(list),
                  (std::vector<std::string>{"mx10.example.test/10", "kept.example.test/15",
                                            "mx20.example.test/20", "mx30.example.test/30"}));
        // One recursive MX query in class IN for the name as given.
        ASSERT_GT(server.LastQuery.size(), 12u);
        EXPECT_EQ(server.LastQuery[2] & 0x01, 1);
        EXPECT_EQ(server.Queries.load(), 1);
        TDnsBytes tail(server.LastQuery.end() - 4, server.LastQuery.end());
        EXPECT_EQ(tail, (TDnsBytes{0, 15, 0, 1}));
        EXPECT_EQ(server.LastQuery[13], 'E');
    }
    {
        SCOPED_TRACE("foreign and broken datagrams before the reply");
        mode = TMode::Noise;
        TBWDNSClient client;
        client.CachedDNSServer = "127.0.0.1";
        TStringList list;
        client.GetMXRecords("example.test", list);
        EXPECT_EQ(Entries(list), std::vector<std::string>{"good.example.test/1"});
    }
    for (TMode m : {TMode::NoMX, TMode::NXDomain, TMode::Truncated, TMode::Silent}) {
        SCOPED_TRACE("no exchanger found, mode " + std::to_string(static_cast<int>(m)));
        mode = m;
        TBWDNSClient client;
        client.CachedDNSServer = "127.0.0.1";
        client.ReceiveTimeout = 300;
        TStringList list;
        client.GetMXRecords("MiXed.Example.test", list);
        EXPECT_EQ(Entries(list), std::vector<std::string>{"MiXed.Example.test/0"});
    }
}
