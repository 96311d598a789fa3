// The watched-service dialog opened for real: picking services, the alert
// switches, and the refusals of an empty choice and of a service already watched.
#include <windows.h>

#include <gtest/gtest.h>

#include "config/TarnwickConfig.h"
#include "configapp/fServiceEdit.h"
#include "tests/support/FormSeams.h"
#include "tests/support/GuiDriver.h"

namespace {

const char* kSelect = "Please select the name of the service you wish to monitor.";

class ServiceEditTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The main window's table: unsorted, name=display name.
        for (const char* line : {"Spooler=Print Spooler", "Eventlog=Event Log",
                                 "RpcSs=Remote Procedure Call (RPC)", "PlugPlay=Plug and Play"})
            installed.Add(line);
        form.SetInstalledServices(&installed);
    }
    void Pick(const std::string& name) {
        // The empty item is the first; the exact search does not find "".
        int index = name.empty() ? 0 : form.cbServiceName->IndexOf(name);
        ASSERT_GE(index, 0) << name;
        gui::PickComboItem(form.cbServiceName->Handle(), index);
    }
    // OK refused with the one message; the focus is on the list afterwards.
    void RefusedOk() {
        size_t before = seams.BoxCount();
        gui::Click(form.btnOk->Handle());
        ASSERT_TRUE(gui::WaitUntil([&] { return seams.BoxCount() == before + 1; }));
        EXPECT_EQ(seams.LastBox().Request.Text, kSelect);
        EXPECT_EQ(seams.LastBox().Request.Caption, "Warning");
        EXPECT_TRUE(gui::WaitUntil(
            [&] { return gui::FocusOf(form.Handle()) == form.cbServiceName->Handle(); }));
        EXPECT_TRUE(IsWindowVisible(form.Handle()));
    }

    gui::Seams seams;
    TStringList installed;
    TTarnwickConfig config;
    TfrmServiceEdit form;
};

TEST_F(ServiceEditTest, ANewEntryIsRefusedEmptyAndAlreadyWatchedThenTakesTheChoice) {
    config.Services->Add(new TServiceConfig("spooler", true, true, false));
    std::unique_ptr<TServiceConfig> entry;
    bool result = false;
    {
        gui::Driver driver([&] {
            ASSERT_TRUE(gui::WaitVisible(form.Handle()));
            // The choice holds an empty item first, then the sorted names.
            EXPECT_EQ(form.cbServiceName->Count(), 5);
            EXPECT_EQ(form.cbServiceName->Item(0), "");
            EXPECT_EQ(form.cbServiceName->Item(1), "Eventlog");
            EXPECT_EQ(form.cbServiceName->Text(), "");
            EXPECT_EQ(form.stxServiceDisplayName->Text(), "");
            EXPECT_TRUE(form.cbStatupEvent->Checked());
            EXPECT_TRUE(form.cbShutdownEvent->Checked());
            EXPECT_FALSE(form.cbFailureEvent->Checked());
            EXPECT_TRUE(form.cbFailureEvent->Enabled());
            EXPECT_TRUE(gui::WaitUntil([&] { return gui::FocusOf(form.Handle()) == form.cbServiceName->Handle(); }));

            RefusedOk();
            Pick("Spooler");
            EXPECT_EQ(form.stxServiceDisplayName->Text(), "Print Spooler");
            RefusedOk();  // watched already, in other letters
            Pick("");
            EXPECT_EQ(form.stxServiceDisplayName->Text(), "");
            RefusedOk();
            Pick("RpcSs");
            EXPECT_EQ(form.stxServiceDisplayName->Text(), "Remote Procedure Call (RPC)");
            gui::Click(form.cbFailureEvent->Handle());
            gui::Click(form.cbShutdownEvent->Handle());
            // Unticking the stop alert disables the failure box, tick kept.
            EXPECT_FALSE(form.cbFailureEvent->Enabled());
            EXPECT_TRUE(form.cbFailureEvent->Checked());
            gui::Click(form.cbStatupEvent->Handle());
            gui::Click(form.btnOk->Handle());
        });
        result = form.AddService(entry, &config);
    }
    EXPECT_TRUE(result);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->ServiceName, "RpcSs");
    EXPECT_FALSE(entry->RaiseStartupEvent);
    EXPECT_FALSE(entry->RaiseShutdownEvent);
    EXPECT_TRUE(entry->OnlyShutdownFailureEvent);
    EXPECT_EQ(config.Services->Count(), 1);  // adding to the list is the caller's part
    EXPECT_EQ(seams.BoxCount(), 3u);
}

TEST_F(ServiceEditTest, CancellingANewEntryFreesIt) {
    std::unique_ptr<TServiceConfig> entry;
    {
        gui::Driver driver([&] {
            ASSERT_TRUE(gui::WaitVisible(form.Handle()));
            Pick("Eventlog");
            gui::PostKey(form.cbServiceName->Handle(), VK_ESCAPE);
        });
        EXPECT_FALSE(form.AddService(entry, &config));
    }
    EXPECT_EQ(entry, nullptr);
    EXPECT_EQ(seams.BoxCount(), 0u);
}

TEST_F(ServiceEditTest, AnEntryWhoseServiceIsGoneIsRefusedUntilAnotherIsChosen) {
    auto* gone = new TServiceConfig("OldService", true, false, true);
    config.Services->Add(gone);
    config.Services->Add(new TServiceConfig("PlugPlay", true, true, false));
    {
        gui::Driver driver([&] {
            ASSERT_TRUE(gui::WaitVisible(form.Handle()));
            EXPECT_EQ(form.cbServiceName->ItemIndex(), -1);
            EXPECT_EQ(form.stxServiceDisplayName->Text(), "");
            // The stop alert is off: the failure box opens disabled, ticked.
            EXPECT_FALSE(form.cbFailureEvent->Enabled());
            EXPECT_TRUE(form.cbFailureEvent->Checked());
            RefusedOk();
            Pick("PlugPlay");  // watched by the other entry
            RefusedOk();
            gui::Click(form.btnCancel->Handle());
        });
        EXPECT_FALSE(form.EditService(gone, &config));
    }
    EXPECT_EQ(gone->ServiceName, "OldService");
    EXPECT_TRUE(gone->RaiseStartupEvent);
    EXPECT_FALSE(gone->RaiseShutdownEvent);
    EXPECT_TRUE(gone->OnlyShutdownFailureEvent);
    {
        gui::Driver driver([&] {
            ASSERT_TRUE(gui::WaitVisible(form.Handle()));
            Pick("Eventlog");
            gui::Click(form.btnOk->Handle());
        });
        EXPECT_TRUE(form.EditService(gone, &config));
    }
    EXPECT_EQ(gone->ServiceName, "Eventlog");
}

TEST_F(ServiceEditTest, AStoredNameInOtherLettersCountsAsChangedAndFindsItself) {
    auto* entry = new TServiceConfig("spooler", true, true, false);
    config.Services->Add(entry);
    {
        gui::Driver driver([&] {
            ASSERT_TRUE(gui::WaitVisible(form.Handle()));
            EXPECT_EQ(form.cbServiceName->Text(), "Spooler");  // the installed name
            EXPECT_EQ(form.stxServiceDisplayName->Text(), "Print Spooler");
            RefusedOk();
            gui::PostCloseBox(form.Handle());
        });
        EXPECT_FALSE(form.EditService(entry, &config));
    }
    EXPECT_EQ(entry->ServiceName, "spooler");
}

TEST_F(ServiceEditTest, EditingWithoutChangingTheServiceStoresTheSwitches) {
    auto* entry = new TServiceConfig("RpcSs", true, true, false);
    config.Services->Add(entry);
    {
        gui::Driver driver([&] {
            ASSERT_TRUE(gui::WaitVisible(form.Handle()));
            gui::Click(form.cbStatupEvent->Handle());
            gui::Click(form.cbFailureEvent->Handle());
            gui::PostKey(form.cbServiceName->Handle(), VK_RETURN);
        });
        EXPECT_TRUE(form.EditService(entry, &config));
    }
    EXPECT_EQ(entry->ServiceName, "RpcSs");
    EXPECT_FALSE(entry->RaiseStartupEvent);
    EXPECT_TRUE(entry->RaiseShutdownEvent);
    EXPECT_TRUE(entry->OnlyShutdownFailureEvent);
    EXPECT_EQ(seams.BoxCount(), 0u);
}

TEST_F(ServiceEditTest, HelpContextsLayoutAndScreenshot) {
    EXPECT_EQ(form.Caption(), "Monitored Service");
    EXPECT_EQ(form.ClientWidth(), 359);
    EXPECT_EQ(form.ClientHeight(), 248);
    auto* entry = new TServiceConfig("Spooler", true, true, true);
    config.Services->Add(entry);
    {
        gui::Driver driver([&] {
            ASSERT_TRUE(gui::WaitVisible(form.Handle()));
            gui::PostKey(form.cbServiceName->Handle(), VK_F1);
            ASSERT_TRUE(gui::WaitUntil([&] { return seams.Help().size() == 1; }));
            for (TControl* c : std::vector<TControl*>{form.cbStatupEvent, form.cbShutdownEvent,
                                                      form.cbFailureEvent, form.Label2}) {
                HELPINFO info{sizeof(HELPINFO), HELPINFO_WINDOW, c->Id(), c->Handle(), 0, {0, 0}};
                SendMessageA(form.Handle(), WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
            }
            EXPECT_FALSE(gui::SaveScreenshot(form.Handle(), "configapp_service_edit").empty());
            gui::Click(form.btnCancel->Handle());
        });
        form.EditService(entry, &config);
    }
    std::vector<std::pair<unsigned, std::uintptr_t>> expected{
        {HELP_CONTEXT, 10300}, {HELP_CONTEXT, 10301}, {HELP_CONTEXT, 10302}, {HELP_CONTEXT, 10303}};
    EXPECT_EQ(seams.Help(), expected);  // the label has none
}

}  // namespace
