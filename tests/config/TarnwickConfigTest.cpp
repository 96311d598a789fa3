#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "config/TarnwickConfig.h"
#include "tests/config/DerivedConfig.h"

namespace {

// Entries that report their end, to see what a list or configuration frees.
std::vector<std::string> gFreed;

struct TTrackedService : TServiceConfig {
    using TServiceConfig::TServiceConfig;
    ~TTrackedService() override { gFreed.push_back(ServiceName); }
};

struct TTrackedProcess : TProcessConfig {
    using TProcessConfig::TProcessConfig;
    ~TTrackedProcess() override { gFreed.push_back(ApplicationPath); }
};

std::vector<std::string> Recipients(const TTarnwickConfig& config) {
    std::vector<std::string> result;
    for (int i = 0; i < config.EmailAddresses->Count(); ++i)
        result.push_back(config.EmailAddresses->Strings(i));
    return result;
}

}  // namespace

TEST(TarnwickConfig, NewConfigurationHoldsTheDefaults) {
    TTarnwickConfig config;
    EXPECT_EQ(&config.ClassType(), TTarnwickConfig::Class());
    EXPECT_EQ(config.EmailAddresses->Count(), 0);
    EXPECT_EQ(config.Services->Count(), 0);
    EXPECT_EQ(config.Processes->Count(), 0);
    EXPECT_EQ(config.PrimarySMTPTransportType, ttDirect);
    EXPECT_EQ(config.PrimarySMTPHost, "");
    EXPECT_EQ(config.FailoverSMTPHost, "");
    EXPECT_EQ(config.FromEmail, "");
    for (bool flag : {config.UseFailoverSMTPHost, config.WriteAlertsToEventLog,
                      config.ServiceStartupEvent, config.ServiceShutdownEvent,
                      config.ProcessStartupEvent, config.ProcessTerminationEvent,
                      config.TarnwickStartupEvent, config.TarnwickShutdownEvent,
                      config.RaiseStartupEvent, config.RaiseShutdownEvent,
                      config.RaiseWindowsShutdownEvent})
        EXPECT_FALSE(flag);
    EXPECT_EQ(config.LastShutdownTime, 0.0);
    EXPECT_EQ(config.StartupWaitPeriod, 0);  // 90 belongs to loading
    // The plain lists and entry classes.
    EXPECT_EQ(config.ServiceListClass(), ClassOf<TServiceConfigList>());
    EXPECT_EQ(config.ProcessListClass(), ClassOf<TProcessConfigList>());
    EXPECT_EQ(config.Services->ItemClass(), ClassOf<TServiceConfig>());
    EXPECT_EQ(config.Processes->ItemClass(), ClassOf<TProcessConfig>());
    EXPECT_TRUE(config.Services->OwnsObjects());
    EXPECT_TRUE(config.Processes->OwnsObjects());
}

TEST(TarnwickConfig, RecipientsSortedCaseInsensitiveFirstSpellingKept) {
    TTarnwickConfig config;
    for (const char* address :
         {"bob@example.test", "Carol@example.test", "alice@example.test", "BOB@EXAMPLE.TEST",
          "Alice@Example.Test", "dave@example.test"})
        config.EmailAddresses->Add(address);
    EXPECT_EQ(Recipients(config),
              std::vector<std::string>({"alice@example.test", "bob@example.test",
                                        "Carol@example.test", "dave@example.test"}));
    // A lower-case b follows an upper-case A.
    TTarnwickConfig other;
    other.EmailAddresses->Add("b@example.test");
    other.EmailAddresses->Add("A@example.test");
    EXPECT_EQ(Recipients(other), std::vector<std::string>({"A@example.test", "b@example.test"}));
}

TEST(TarnwickConfig, LookupsLowerCaseOnlyAsciiLettersAndReturnTheFirstMatch) {
    TTarnwickConfig config;
    EXPECT_EQ(config.Services->IndexOfName("Spooler"), -1);
    EXPECT_EQ(config.Processes->IndexOfPath("C:\\x.exe"), -1);

    config.Services->Add(new TServiceConfig("W3Svc", false, false, false));
    config.Services->Add(new TServiceConfig("Spooler", true, false, false));
    config.Services->Add(new TServiceConfig("SPOOLER", false, true, false));
    config.Services->Add(new TServiceConfig("Caf\xC9", false, false, false));  // CafÉ
    EXPECT_EQ(config.Services->IndexOfName("SPOOLER"), 1);
    EXPECT_EQ(config.Services->IndexOfName("w3svc"), 0);
    EXPECT_EQ(config.Services->IndexOfName("CAF\xC9"), 3);
    EXPECT_EQ(config.Services->IndexOfName("caf\xE9"), -1);  // café: accented case differs
    EXPECT_EQ(config.Services->IndexOfName(" Spooler"), -1);  // no trimming

    config.Processes->Add(new TProcessConfig("C:\\Tools\\App.exe", true, true));
    EXPECT_EQ(config.Processes->IndexOfPath("c:\\TOOLS\\app.EXE"), 0);
    // No path normalisation: other spellings of the same file do not match.
    EXPECT_EQ(config.Processes->IndexOfPath("C:\\Tools\\.\\App.exe"), -1);
    EXPECT_EQ(config.Processes->IndexOfPath("C:\\Tools\\\\App.exe"), -1);
}

TEST(TarnwickConfig, TypedAccessChecksTheClassAndTheIndex) {
    TTarnwickConfig config;
    config.Services->Add(new TServiceConfig("A", false, false, false));
    EXPECT_EQ(config.Services->GetItem(0)->ServiceName, "A");
    EXPECT_THROW(config.Services->GetItem(1), EListError);
    EXPECT_THROW(config.Processes->GetItem(0), EListError);
    // An entry of a foreign class (only possible through the untyped base).
    static_cast<TBWList*>(config.Processes.get())->Add(new TServiceConfig("B", 0, 0, 0));
    try {
        config.Processes->GetItem(0);
        FAIL();
    } catch (const EInvalidCast& e) {
        EXPECT_EQ(e.Message(), "Invalid class typecast");
    }
}

TEST(TarnwickConfig, EntriesAreFreedWithTheirListsServicesFirst) {
    gFreed.clear();
    {
        TTarnwickConfig config;
        config.EmailAddresses->Add("a@example.test");
        config.Processes->Add(new TTrackedProcess("p1", false, false));
        config.Processes->Add(new TTrackedProcess("p2", false, false));
        config.Services->Add(new TTrackedService("s1", false, false, false));
        config.Services->Add(new TTrackedService("s2", false, false, false));
        config.Services->Add(new TTrackedService("s3", false, false, false));
        config.Services->Delete(1);  // freed at once
        EXPECT_EQ(gFreed, std::vector<std::string>({"s2"}));
    }
    EXPECT_EQ(gFreed, std::vector<std::string>({"s2", "s3", "s1", "p2", "p1"}));
}

TEST(TarnwickConfig, TheMostDerivedClassDecidesListsAndEntries) {
    // Through the class reference, as the store creates it.
    std::unique_ptr<TTarnwickConfig> config = TDerivedConfig::Class()->Create();
    auto* derived = dynamic_cast<TDerivedConfig*>(config.get());
    ASSERT_NE(derived, nullptr);
    EXPECT_EQ(&config->ClassType(), TDerivedConfig::Class());
    // The lists exist as the derived classes from the start and the typed
    // references are the same objects.
    EXPECT_EQ(derived->DerivedServices, config->Services.get());
    EXPECT_EQ(derived->DerivedProcesses, config->Processes.get());
    EXPECT_EQ(derived->DerivedServices->Count(), 0);
    EXPECT_TRUE(config->Services->OwnsObjects());
    EXPECT_EQ(config->Services->ItemClass(), ClassOf<TDerivedServiceConfig>());
    EXPECT_EQ(config->Processes->ItemClass(), ClassOf<TDerivedProcessConfig>());

    // Entries created through ItemClass run the derived constructor.
    std::unique_ptr<TProcessConfig> process =
        config->Processes->ItemClass()->Create("C:\\Program Files\\Tool\\MyApp.EXE", false, true);
    config->Processes->Add(process.release());
    std::unique_ptr<TServiceConfig> service =
        config->Services->ItemClass()->Create("Spooler", true, false, true);
    config->Services->Add(service.release());
    TDerivedProcessConfig* p = derived->DerivedProcesses->GetItem(0);
    EXPECT_EQ(p->ApplicationPath, "C:\\Program Files\\Tool\\MyApp.EXE");
    EXPECT_EQ(p->ExeName, "myapp.exe");
    EXPECT_FALSE(p->RaiseStartupEvent);
    EXPECT_TRUE(p->RaiseShutdownEvent);
    TDerivedServiceConfig* s = derived->DerivedServices->GetItem(0);
    EXPECT_EQ(s->ServiceName, "Spooler");
    EXPECT_TRUE(s->RaiseStartupEvent);
    EXPECT_FALSE(s->RaiseShutdownEvent);
    EXPECT_TRUE(s->OnlyShutdownFailureEvent);
    // A plain entry in a derived list is refused by the typed access.
    config->Services->Add(new TServiceConfig("Plain", false, false, false));
    EXPECT_THROW(derived->DerivedServices->GetItem(1), EInvalidCast);

    // Constructed directly, the derived class gets the same lists.
    TDerivedConfig direct;
    EXPECT_NE(dynamic_cast<TDerivedServiceConfigList*>(direct.Services.get()), nullptr);
    EXPECT_NE(dynamic_cast<TDerivedProcessConfigList*>(direct.Processes.get()), nullptr);
    // The base class still makes plain objects.
    std::unique_ptr<TTarnwickConfig> plain = TTarnwickConfig::Class()->Create();
    EXPECT_EQ(dynamic_cast<TDerivedConfig*>(plain.get()), nullptr);
    EXPECT_EQ(plain->Services->ItemClass(), ClassOf<TServiceConfig>());
}

TEST(TarnwickConfig, FileNamePartOfAPath) {
    EXPECT_EQ(ExtractFileName("C:\\Dir\\App.exe"), "App.exe");
    EXPECT_EQ(ExtractFileName("C:App.exe"), "App.exe");
    EXPECT_EQ(ExtractFileName("C:\\Dir\\"), "");
    EXPECT_EQ(ExtractFileName("App.exe"), "App.exe");
    EXPECT_EQ(ExtractFileName("\\\\server\\share\\d/e.exe"), "d/e.exe");
    TDerivedProcessConfig accented("D:\\\xC9T\xC9.EXE", false, false);  // ÉTÉ.EXE
    EXPECT_EQ(accented.ExeName, "\xC9t\xC9.exe");
}
