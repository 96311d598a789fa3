#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "config/TarnwickConfigRegAdapter.h"
#include "service/TarnwickRuntimeConfig.h"
#include "tests/support/RawRegistry.h"

// The load cases work on the one fixed configuration key; this program holds
// the ctest lock "tarnwick_registry" for it.
namespace {

const std::string Key = "SOFTWARE\\Brellow\\Tarnwick";

class RuntimeConfigLoad : public ::testing::Test {
protected:
    void SetUp() override { rawreg::DeleteTree(Key); }
    void TearDown() override { rawreg::DeleteTree(Key); }

    static void AddService(const std::string& subkey, const std::string& name) {
        rawreg::SetString(Key + "\\Services\\" + subkey, "ServiceName", name);
        rawreg::SetDword(Key + "\\Services\\" + subkey, "RaiseShutdownEvent", 1);
    }
    static void AddProcess(const std::string& subkey, const std::string& path) {
        rawreg::SetString(Key + "\\Processes\\" + subkey, "ApplicationPath", path);
        rawreg::SetDword(Key + "\\Processes\\" + subkey, "RaiseStartupEvent", 1);
    }

    // Loads as the monitor does: the runtime class set on the adapter.
    static std::unique_ptr<TTarnwickRuntimeConfig> LoadRuntime() {
        TServiceConfigRegAdapter adapter;
        adapter.ConfigClass = TTarnwickRuntimeConfig::Class();
        std::unique_ptr<TTarnwickConfig> loaded = adapter.Load();
        auto* runtime = CheckedCast<TTarnwickRuntimeConfig>(loaded.get());
        loaded.release();
        return std::unique_ptr<TTarnwickRuntimeConfig>(runtime);
    }
};

}  // namespace

TEST(RuntimeConfig, ExeNameIsTheLowerCasedFileNameOfThePath) {
    struct {
        const char* path;
        const char* exeName;
    } cases[] = {
        {"C:\\Program Files\\Acme\\SERVER.EXE", "server.exe"},
        // Only A to Z change: an accented capital (code page 1252) keeps its case.
        {"C:\\Apps\\\xC4PFEL.Exe", "\xC4pfel.exe"},
        {"C:\\Apps\\", ""},
        {"D:tool.EXE", "tool.exe"},
        {"plain.exe", "plain.exe"},
        {"\\\\host\\share\\Dir.X\\Run", "run"},
    };
    for (const auto& c : cases) {
        TProcessRuntimeConfig entry(c.path, true, false);
        EXPECT_EQ(entry.ExeName, c.exeName) << c.path;
        EXPECT_EQ(entry.ApplicationPath, c.path);
        EXPECT_TRUE(entry.RaiseStartupEvent);
        EXPECT_FALSE(entry.RaiseShutdownEvent);
    }
}

TEST(RuntimeConfig, NewConfigurationHasTypedRuntimeListsThatAreTheInheritedOnes) {
    TTarnwickRuntimeConfig config;
    EXPECT_EQ(&config.ClassType(), TTarnwickRuntimeConfig::Class());
    ASSERT_NE(config.RuntimeServices, nullptr);
    ASSERT_NE(config.RuntimeProcesses, nullptr);
    EXPECT_EQ(static_cast<TServiceConfigList*>(config.RuntimeServices), config.Services.get());
    EXPECT_EQ(static_cast<TProcessConfigList*>(config.RuntimeProcesses), config.Processes.get());
    EXPECT_EQ(config.RuntimeServices->Count(), 0);
    EXPECT_EQ(config.RuntimeProcesses->Count(), 0);
    EXPECT_TRUE(config.Services->OwnsObjects());
    EXPECT_TRUE(config.Processes->OwnsObjects());

    // The lists create runtime entries through their item classes.
    std::unique_ptr<TProcessConfig> entry =
        config.Processes->ItemClass()->Create("C:\\X\\Y.EXE", false, true);
    ASSERT_NE(dynamic_cast<TProcessRuntimeConfig*>(entry.get()), nullptr);
    EXPECT_EQ(static_cast<TProcessRuntimeConfig*>(entry.get())->ExeName, "y.exe");
    std::unique_ptr<TServiceConfig> service =
        config.Services->ItemClass()->Create("Spooler", false, false, false);
    EXPECT_NE(dynamic_cast<TServiceRuntimeConfig*>(service.get()), nullptr);

    // The same class reference builds the same kind of object.
    std::unique_ptr<TTarnwickConfig> made = TTarnwickRuntimeConfig::Class()->Create();
    EXPECT_NE(dynamic_cast<TTarnwickRuntimeConfig*>(made.get()), nullptr);
}

TEST(RuntimeConfig, TypedGetItemChecksIndexAndClass) {
    TTarnwickRuntimeConfig config;
    config.Processes->Add(new TProcessRuntimeConfig("C:\\a.exe", false, false));
    // A plain model entry slipped into a runtime list is refused on access.
    config.Processes->Add(new TProcessConfig("C:\\b.exe", false, false));
    config.Services->Add(new TServiceConfig("Plain", false, false, false));
    EXPECT_EQ(config.RuntimeProcesses->GetItem(0)->ExeName, "a.exe");
    EXPECT_THROW(config.RuntimeProcesses->GetItem(1), EInvalidCast);
    EXPECT_THROW(config.RuntimeServices->GetItem(0), EInvalidCast);
    EXPECT_THROW(config.RuntimeProcesses->GetItem(2), EListError);
    EXPECT_THROW(config.RuntimeServices->GetItem(-1), EListError);
}

TEST_F(RuntimeConfigLoad, LoadedConfigurationHoldsRuntimeListsAndEntriesOnly) {
    rawreg::SetString(Key, "FromEmail", "monitor@example.test");
    AddService("Spooler", "Spooler");
    AddService("OtherName", "EventLog");
    AddProcess("SERVER.EXE", "C:\\Program Files\\Acme\\SERVER.EXE");
    AddProcess("tool.exe", "D:tool.exe");

    std::unique_ptr<TTarnwickRuntimeConfig> config = LoadRuntime();
    EXPECT_EQ(config->FromEmail, "monitor@example.test");
    EXPECT_EQ(config->StartupWaitPeriod, 90);
    ASSERT_EQ(config->RuntimeServices->Count(), 2);
    ASSERT_EQ(config->RuntimeProcesses->Count(), 2);
    for (int i = 0; i < config->Services->Count(); ++i) {
        TServiceRuntimeConfig* entry = config->RuntimeServices->GetItem(i);
        EXPECT_EQ(typeid(*entry), typeid(TServiceRuntimeConfig));
        EXPECT_TRUE(entry->RaiseShutdownEvent);
    }
    EXPECT_GE(config->RuntimeServices->IndexOfName("EVENTLOG"), 0);
    for (int i = 0; i < config->Processes->Count(); ++i) {
        TProcessRuntimeConfig* entry = config->RuntimeProcesses->GetItem(i);
        EXPECT_EQ(typeid(*entry), typeid(TProcessRuntimeConfig));
        EXPECT_EQ(entry->ExeName, LowerCaseAZ(ExtractFileName(entry->ApplicationPath)));
        EXPECT_TRUE(entry->RaiseStartupEvent);
    }
    int server = config->RuntimeProcesses->IndexOfPath("c:\\program files\\acme\\server.exe");
    ASSERT_GE(server, 0);
    EXPECT_EQ(config->RuntimeProcesses->GetItem(server)->ExeName, "server.exe");
}

TEST_F(RuntimeConfigLoad, WithoutAKeyBothTypedListsAreThereAndEmpty) {
    std::unique_ptr<TTarnwickRuntimeConfig> config = LoadRuntime();
    ASSERT_NE(config->RuntimeServices, nullptr);
    ASSERT_NE(config->RuntimeProcesses, nullptr);
    EXPECT_EQ(config->RuntimeServices->Count(), 0);
    EXPECT_EQ(config->RuntimeProcesses->Count(), 0);
}

TEST_F(RuntimeConfigLoad, TwoLoadsGiveIndependentConfigurations) {
    AddProcess("a.exe", "C:\\A.EXE");
    std::unique_ptr<TTarnwickRuntimeConfig> first = LoadRuntime();
    AddProcess("b.exe", "C:\\B.EXE");
    std::unique_ptr<TTarnwickRuntimeConfig> second = LoadRuntime();
    ASSERT_EQ(first->RuntimeProcesses->Count(), 1);
    ASSERT_EQ(second->RuntimeProcesses->Count(), 2);
    TProcessRuntimeConfig* kept = first->RuntimeProcesses->GetItem(0);
    for (int i = 0; i < second->RuntimeProcesses->Count(); ++i)
        EXPECT_NE(second->RuntimeProcesses->GetItem(i), kept);
    EXPECT_EQ(second->RuntimeProcesses->IndexOf(kept), -1);
    first.reset();  // the second does not share its entries
    EXPECT_EQ(second->RuntimeProcesses->GetItem(second->RuntimeProcesses->IndexOfPath("c:\\a.exe"))
                  ->ExeName,
              "a.exe");
}
