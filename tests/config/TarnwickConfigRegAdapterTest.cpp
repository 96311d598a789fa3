#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "config/TarnwickConfigRegAdapter.h"
#include "tests/config/DerivedConfig.h"
#include "tests/support/RawRegistry.h"

// Every case works on the one fixed configuration key; the programs of this
// folder hold the ctest lock "tarnwick_registry" for it.
namespace {

const std::string Key = "SOFTWARE\\Brellow\\Tarnwick";
const std::string Emails = Key + "\\EmailAddresses";
const std::string Services = Key + "\\Services";
const std::string Processes = Key + "\\Processes";

class RegAdapterTest : public ::testing::Test {
protected:
    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }
    static void Clean() {
        for (const std::string& path : {Emails, Key})
            rawreg::UnrestrictKey(path);
        rawreg::DeleteTree(Key);
    }

    static std::unique_ptr<TTarnwickConfig> Load() {
        TServiceConfigRegAdapter adapter;
        return adapter.Load();
    }
    static void Save(const TTarnwickConfig& config) {
        TServiceConfigRegAdapter adapter;
        adapter.Save(config);
    }
};

std::string RegistryError(const std::function<void()>& action) {
    try {
        action();
    } catch (const ERegistryException& e) {
        return e.Message();
    }
    return "(nothing raised)";
}

std::vector<std::string> Recipients(const TTarnwickConfig& config) {
    std::vector<std::string> result;
    for (int i = 0; i < config.EmailAddresses->Count(); ++i)
        result.push_back(config.EmailAddresses->Strings(i));
    return result;
}

std::vector<std::string> Sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
}

}  // namespace

TEST_F(RegAdapterTest, WithoutAKeyLoadGivesTheConstructedConfiguration) {
    std::unique_ptr<TTarnwickConfig> config = Load();
    ASSERT_TRUE(config);
    EXPECT_EQ(config->StartupWaitPeriod, 0);
    EXPECT_EQ(config->LastShutdownTime, 0.0);
    EXPECT_EQ(config->EmailAddresses->Count(), 0);
    EXPECT_EQ(config->Services->Count(), 0);
    EXPECT_EQ(config->PrimarySMTPTransportType, ttDirect);
    EXPECT_FALSE(rawreg::KeyExists(Key));  // loading creates nothing

    // The key alone: the stored configuration's delay default.
    rawreg::CreateKey(Key);
    config = Load();
    EXPECT_EQ(config->StartupWaitPeriod, 90);
    EXPECT_EQ(config->LastShutdownTime, 0.0);
    EXPECT_FALSE(config->WriteAlertsToEventLog);
    EXPECT_EQ(config->Processes->Count(), 0);
}

TEST_F(RegAdapterTest, SaveWritesTypedValuesAndLoadReadsThemBack) {
    const double lastShutdown = 46010.75;
    rawreg::Set(Key, "LastShutdownTime", REG_BINARY, &lastShutdown, 8);
    rawreg::SetString(Key, "SomeoneElses", "kept");

    TTarnwickConfig config;
    config.PrimarySMTPTransportType = ttHost;
    config.PrimarySMTPHost = "relay.example.test";
    config.UseFailoverSMTPHost = true;
    config.FailoverSMTPHost = "backup.example.test";
    config.FromEmail = "monitor@example.test";
    config.RaiseStartupEvent = true;
    config.RaiseWindowsShutdownEvent = true;
    config.WriteAlertsToEventLog = true;
    config.ServiceShutdownEvent = true;
    config.ProcessStartupEvent = true;
    config.TarnwickShutdownEvent = true;
    config.StartupWaitPeriod = -3;
    config.LastShutdownTime = 1.0;  // never saved: the service owns it
    for (const char* address : {"zed@example.test", "amy@example.test", "Bob@example.test"})
        config.EmailAddresses->Add(address);
    config.Services->Add(new TServiceConfig("Spooler", true, false, true));
    config.Services->Add(new TServiceConfig("W3SVC", false, true, false));
    config.Processes->Add(new TProcessConfig("C:\\Tools\\Agent.exe", true, false));
    Save(config);

    // The stored form.
    rawreg::Value transport = rawreg::Get(Key, "PrimarySMTPTransportType");
    EXPECT_EQ(transport.Type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(transport.Text(), "Host");
    EXPECT_EQ(rawreg::Get(Key, "PrimarySMTPHost").Text(), "relay.example.test");
    rawreg::Value failover = rawreg::Get(Key, "UseFailoverSMTPHost");
    EXPECT_EQ(failover.Type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(failover.Dword(), 1u);
    EXPECT_EQ(rawreg::Get(Key, "RaiseShutdownEvent").Dword(), 0u);
    rawreg::Value wait = rawreg::Get(Key, "StartupWaitPeriod");
    EXPECT_EQ(wait.Type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(wait.Dword(), 0xFFFFFFFDu);
    rawreg::Value stored = rawreg::Get(Key, "LastShutdownTime");
    ASSERT_EQ(stored.Data.size(), 8u);
    EXPECT_EQ(std::memcmp(stored.Data.data(), &lastShutdown, 8), 0);
    EXPECT_EQ(rawreg::Get(Key, "SomeoneElses").Text(), "kept");
    EXPECT_EQ(Sorted(rawreg::ValueNames(Emails)), std::vector<std::string>({"0", "1", "2"}));
    EXPECT_EQ(rawreg::Get(Emails, "0").Text(), "amy@example.test");
    EXPECT_EQ(rawreg::Get(Emails, "1").Text(), "Bob@example.test");
    EXPECT_EQ(rawreg::Get(Emails, "2").Text(), "zed@example.test");
    EXPECT_EQ(Sorted(rawreg::SubkeyNames(Services)),
              std::vector<std::string>({"Spooler", "W3SVC"}));
    EXPECT_EQ(rawreg::Get(Services + "\\Spooler", "ServiceName").Text(), "Spooler");
    EXPECT_EQ(rawreg::Get(Services + "\\Spooler", "OnlyShutdownFailureEvent").Dword(), 1u);
    EXPECT_EQ(rawreg::SubkeyNames(Processes), std::vector<std::string>({"Agent.exe"}));
    EXPECT_EQ(rawreg::Get(Processes + "\\Agent.exe", "ApplicationPath").Text(),
              "C:\\Tools\\Agent.exe");

    std::unique_ptr<TTarnwickConfig> loaded = Load();
    EXPECT_EQ(loaded->PrimarySMTPTransportType, ttHost);
    EXPECT_EQ(loaded->PrimarySMTPHost, "relay.example.test");
    EXPECT_TRUE(loaded->UseFailoverSMTPHost);
    EXPECT_EQ(loaded->FailoverSMTPHost, "backup.example.test");
    EXPECT_EQ(loaded->FromEmail, "monitor@example.test");
    EXPECT_TRUE(loaded->RaiseStartupEvent);
    EXPECT_FALSE(loaded->RaiseShutdownEvent);
    EXPECT_TRUE(loaded->RaiseWindowsShutdownEvent);
    EXPECT_TRUE(loaded->WriteAlertsToEventLog);
    EXPECT_FALSE(loaded->ServiceStartupEvent);
    EXPECT_TRUE(loaded->ServiceShutdownEvent);
    EXPECT_TRUE(loaded->ProcessStartupEvent);
    EXPECT_FALSE(loaded->ProcessTerminationEvent);
    EXPECT_FALSE(loaded->TarnwickStartupEvent);
    EXPECT_TRUE(loaded->TarnwickShutdownEvent);
    EXPECT_EQ(loaded->StartupWaitPeriod, -3);
    EXPECT_EQ(loaded->LastShutdownTime, lastShutdown);
    EXPECT_EQ(Recipients(*loaded), Recipients(config));
    ASSERT_EQ(loaded->Services->Count(), 2);
    int spooler = loaded->Services->IndexOfName("Spooler");
    ASSERT_GE(spooler, 0);
    TServiceConfig* s = loaded->Services->GetItem(spooler);
    EXPECT_TRUE(s->RaiseStartupEvent);
    EXPECT_FALSE(s->RaiseShutdownEvent);
    EXPECT_TRUE(s->OnlyShutdownFailureEvent);
    ASSERT_EQ(loaded->Processes->Count(), 1);
    EXPECT_EQ(loaded->Processes->GetItem(0)->ApplicationPath, "C:\\Tools\\Agent.exe");
    EXPECT_TRUE(loaded->Processes->GetItem(0)->RaiseStartupEvent);
    EXPECT_FALSE(loaded->Processes->GetItem(0)->RaiseShutdownEvent);

    // An empty service list leaves an empty Services key.
    loaded->Services->Clear();
    Save(*loaded);
    EXPECT_TRUE(rawreg::KeyExists(Services));
    EXPECT_TRUE(rawreg::SubkeyNames(Services).empty());
}

TEST_F(RegAdapterTest, TransportTypeAndSwitchesAsStored) {
    rawreg::SetString(Key, "PrimarySMTPTransportType", "host");
    rawreg::SetDword(Key, "RaiseStartupEvent", 2);
    rawreg::SetDword(Key, "StartupWaitPeriod", 15);
    rawreg::SetString(Key, "PrimarySMTPHost", "%COMPUTERNAME%.example.test", REG_EXPAND_SZ);
    std::unique_ptr<TTarnwickConfig> config = Load();
    EXPECT_EQ(config->PrimarySMTPTransportType, ttDirect);  // only exactly "Host"
    EXPECT_TRUE(config->RaiseStartupEvent);
    EXPECT_EQ(config->StartupWaitPeriod, 15);
    EXPECT_EQ(config->PrimarySMTPHost, "%COMPUTERNAME%.example.test");
    Save(*config);
    EXPECT_EQ(rawreg::Get(Key, "PrimarySMTPTransportType").Text(), "Direct");
    EXPECT_EQ(rawreg::Get(Key, "RaiseStartupEvent").Dword(), 1u);
    rawreg::Value host = rawreg::Get(Key, "PrimarySMTPHost");
    EXPECT_EQ(host.Type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(host.Text(), "%COMPUTERNAME%.example.test");

    for (const char* text : {"Relay", "HOST", ""}) {
        rawreg::SetString(Key, "PrimarySMTPTransportType", text);
        EXPECT_EQ(Load()->PrimarySMTPTransportType, ttDirect) << text;
    }
    rawreg::SetString(Key, "PrimarySMTPTransportType", "Host");
    EXPECT_EQ(Load()->PrimarySMTPTransportType, ttHost);
}

TEST_F(RegAdapterTest, AValueOfTheWrongTypeOrSizeFailsTheLoadNamingIt) {
    struct Case {
        std::function<void()> store;
        std::string message;
    };
    const double when = 45000.5;
    char sixteen[16] = {};
    const Case cases[] = {
        {[] { rawreg::SetString(Key, "WriteAlertsToEventLog", "1"); },
         "Invalid data type for 'WriteAlertsToEventLog'"},
        {[] { rawreg::SetString(Key, "TarnwickStartupEvent", "true"); },
         "Failed to get data for 'TarnwickStartupEvent'"},
        {[&] { rawreg::Set(Key, "LastShutdownTime", REG_BINARY, &when, 4); },
         "Invalid data type for 'LastShutdownTime'"},
        {[&] { rawreg::Set(Key, "LastShutdownTime", REG_BINARY, sixteen, 16); },
         "Failed to get data for 'LastShutdownTime'"},
        {[] { rawreg::SetDword(Key, "FromEmail", 1); }, "Invalid data type for 'FromEmail'"},
        {[] { rawreg::SetDword(Emails, "first", 1); }, "Invalid data type for 'first'"},
        {[] { rawreg::SetString(Services + "\\S", "ServiceName", "S");
              rawreg::SetString(Services + "\\S", "RaiseShutdownEvent", "yes"); },
         "Invalid data type for 'RaiseShutdownEvent'"},
        {[] { rawreg::SetDword(Processes + "\\P", "ApplicationPath", 0); },
         "Invalid data type for 'ApplicationPath'"},
    };
    for (const Case& c : cases) {
        Clean();
        c.store();
        std::unique_ptr<TTarnwickConfig> config;
        EXPECT_EQ(RegistryError([&] { config = Load(); }), c.message);
        EXPECT_FALSE(config);
    }
}

TEST_F(RegAdapterTest, RecipientsLoadFromAnyNamesAndSaveAsNumbersInSortedOrder) {
    rawreg::SetString(Emails, "zeta", "carol@example.test");
    rawreg::SetString(Emails, "Alpha", "Bob@example.test");
    rawreg::SetString(Emails, "7", "bob@EXAMPLE.test");
    rawreg::SetString(Emails, "", "alice@example.test");  // the default value
    rawreg::Set(Emails, "blank", REG_SZ, "", 0);
    rawreg::SetString(Emails, "expanded", "%USERNAME%@example.test", REG_EXPAND_SZ);
    std::unique_ptr<TTarnwickConfig> config = Load();
    std::vector<std::string> recipients = Recipients(*config);
    ASSERT_EQ(recipients.size(), 5u);  // the two spellings of bob are one recipient
    EXPECT_EQ(recipients[0], "");      // empty data: one empty recipient
    EXPECT_EQ(recipients[1], "%USERNAME%@example.test");
    EXPECT_EQ(recipients[2], "alice@example.test");
    EXPECT_EQ(LowerCaseAZ(recipients[3]), "bob@example.test");
    EXPECT_EQ(recipients[4], "carol@example.test");

    Save(*config);
    EXPECT_EQ(Sorted(rawreg::ValueNames(Emails)),
              std::vector<std::string>({"0", "1", "2", "3", "4"}));
    for (size_t i = 0; i < recipients.size(); ++i) {
        rawreg::Value v = rawreg::Get(Emails, std::to_string(i));
        EXPECT_EQ(v.Type, static_cast<DWORD>(REG_SZ));
        EXPECT_EQ(v.Text(), recipients[i]);
    }
    config->EmailAddresses->Clear();
    Save(*config);
    EXPECT_TRUE(rawreg::ValueNames(Emails).empty());
}

TEST_F(RegAdapterTest, EntriesComeFromTheirValuesNotTheSubkeyNames) {
    rawreg::SetString(Services + "\\OldName", "ServiceName", "NewSvc");
    rawreg::SetDword(Services + "\\OldName", "RaiseShutdownEvent", 1);
    rawreg::SetDword(Services + "\\NoName", "RaiseStartupEvent", 1);  // skipped
    rawreg::SetString(Services + "\\Spooler", "ServiceName", "Spooler");
    rawreg::SetString(Processes + "\\whatever", "ApplicationPath", "C:\\Bin\\Tool.exe");
    rawreg::SetDword(Processes + "\\NoPath", "RaiseStartupEvent", 1);  // skipped

    std::unique_ptr<TTarnwickConfig> config = Load();
    ASSERT_EQ(config->Services->Count(), 2);
    int renamed = config->Services->IndexOfName("NewSvc");
    ASSERT_GE(renamed, 0);
    EXPECT_TRUE(config->Services->GetItem(renamed)->RaiseShutdownEvent);
    EXPECT_FALSE(config->Services->GetItem(renamed)->RaiseStartupEvent);
    EXPECT_GE(config->Services->IndexOfName("Spooler"), 0);
    ASSERT_EQ(config->Processes->Count(), 1);
    EXPECT_EQ(config->Processes->GetItem(0)->ApplicationPath, "C:\\Bin\\Tool.exe");

    Save(*config);
    EXPECT_EQ(Sorted(rawreg::SubkeyNames(Services)),
              std::vector<std::string>({"NewSvc", "Spooler"}));
    EXPECT_EQ(rawreg::SubkeyNames(Processes), std::vector<std::string>({"Tool.exe"}));
}

TEST_F(RegAdapterTest, ASaveThatCannotStoreAnEntryLosesNoStoredEntry) {
    rawreg::SetString(Services + "\\Kept", "ServiceName", "Kept");
    rawreg::SetString(Services + "\\Locked", "ServiceName", "Locked");
    rawreg::SetString(Processes + "\\tool.exe", "ApplicationPath", "C:\\One\\tool.exe");
    const std::vector<std::string> services{"Kept", "Locked"};

    // Refused before anything is written.
    TTarnwickConfig config;
    config.FromEmail = "new@example.test";
    const std::string longName(256, 's');
    for (const std::string& name : {longName, std::string("a\\b"), std::string()}) {
        config.Services->Clear();
        config.Services->Add(new TServiceConfig(name, true, true, false));
        EXPECT_EQ(RegistryError([&] { Save(config); }),
                  "The watched service '" + name +
                      "' cannot be saved: a service name has 1 to 255 characters and no "
                      "backslash.");
    }
    config.Services->Clear();
    config.Processes->Add(new TProcessConfig("C:\\One\\tool.exe", true, false));
    config.Processes->Add(new TProcessConfig("D:\\Two\\TOOL.EXE", false, true));
    EXPECT_EQ(RegistryError([&] { Save(config); }),
              "The watched programs 'C:\\One\\tool.exe' and 'D:\\Two\\TOOL.EXE' have the same "
              "file name: only one of them can be monitored.");
    EXPECT_FALSE(rawreg::Get(Key, "FromEmail").Exists);
    EXPECT_EQ(Sorted(rawreg::SubkeyNames(Services)), services);

    // A write that fails partway: the new subkey goes again, none is deleted.
    const std::string locked = Services + "\\Locked";
    if (!rawreg::RestrictKey(locked, KEY_READ))
        GTEST_SKIP() << "the registry refused a new DACL";
    config.Processes->Delete(1);
    config.Services->Add(new TServiceConfig("Added", true, true, false));
    config.Services->Add(new TServiceConfig("Locked", true, true, false));
    std::string error = RegistryError([&] { Save(config); });
    ASSERT_TRUE(rawreg::UnrestrictKey(locked));
    EXPECT_EQ(error, "Failed to set data for 'ServiceName'");
    EXPECT_EQ(Sorted(rawreg::SubkeyNames(Services)), services);
    EXPECT_EQ(Load()->Services->Count(), 2);
}

TEST_F(RegAdapterTest, LoadCreatesTheClassesTheConfigClassChooses) {
    rawreg::SetString(Services + "\\Spooler", "ServiceName", "Spooler");
    rawreg::SetDword(Services + "\\Spooler", "OnlyShutdownFailureEvent", 1);
    rawreg::SetString(Processes + "\\x", "ApplicationPath", "C:\\Dir\\MyApp.EXE");
    TServiceConfigRegAdapter adapter;
    EXPECT_EQ(adapter.ConfigClass, TTarnwickConfig::Class());
    adapter.ConfigClass = TDerivedConfig::Class();
    std::unique_ptr<TTarnwickConfig> config = adapter.Load();
    auto* derived = CheckedCast<TDerivedConfig>(config.get());
    ASSERT_EQ(derived->DerivedServices->Count(), 1);
    TDerivedServiceConfig* service = derived->DerivedServices->GetItem(0);
    EXPECT_EQ(service->ServiceName, "Spooler");
    EXPECT_TRUE(service->OnlyShutdownFailureEvent);
    ASSERT_EQ(derived->DerivedProcesses->Count(), 1);
    EXPECT_EQ(derived->DerivedProcesses->GetItem(0)->ExeName, "myapp.exe");

    // Also without any stored configuration.
    Clean();
    config = adapter.Load();
    EXPECT_NE(dynamic_cast<TDerivedConfig*>(config.get()), nullptr);
}

TEST_F(RegAdapterTest, ThePlainAdapterIsAbstract) {
    TConfigAdapter adapter;
    TTarnwickConfig config;
    EXPECT_THROW(adapter.Load(), EAbstractError);
    EXPECT_THROW(adapter.Save(config), EAbstractError);
}

TEST_F(RegAdapterTest, SaveWithoutTheRightToWriteRaisesAtTheFirstValue) {
    rawreg::SetString(Key, "FromEmail", "old@example.test");
    if (!rawreg::RestrictKey(Key, KEY_READ))
        GTEST_SKIP() << "the registry refused a new DACL";
    HKEY probe;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, Key.c_str(), 0, KEY_ALL_ACCESS, &probe) ==
        ERROR_SUCCESS) {
        RegCloseKey(probe);
        GTEST_SKIP() << "this registry grants full access past a read-only DACL";
    }
    TTarnwickConfig config;
    config.FromEmail = "new@example.test";
    EXPECT_EQ(RegistryError([&] { Save(config); }),
              "Failed to set data for 'PrimarySMTPTransportType'");
    EXPECT_EQ(rawreg::Get(Key, "FromEmail").Text(), "old@example.test");
    EXPECT_FALSE(rawreg::Get(Key, "PrimarySMTPTransportType").Exists);

    // A later refusal, in the recipients key: what was written before stays,
    // and the recipient Save could not delete is read back by the next Load.
    ASSERT_TRUE(rawreg::UnrestrictKey(Key));
    rawreg::SetString(Emails, "old", "old@example.test");
    ASSERT_TRUE(rawreg::RestrictKey(Emails, KEY_READ));
    config.EmailAddresses->Add("new@example.test");
    EXPECT_EQ(RegistryError([&] { Save(config); }), "Failed to set data for '0'");
    EXPECT_EQ(rawreg::Get(Key, "FromEmail").Text(), "new@example.test");
    std::unique_ptr<TTarnwickConfig> loaded = Load();
    EXPECT_EQ(loaded->FromEmail, "new@example.test");
    EXPECT_EQ(Recipients(*loaded), std::vector<std::string>({"old@example.test"}));
}
