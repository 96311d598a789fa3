// The configuration program's main window, driven for real under the virtual
// display against the test prefix's registry and service control manager: a
// second thread clicks, types and picks as a person would, message boxes are
// answered through the form layer's seam, and what OK wrote is read back from
// the registry directly.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <utility>

#include "config/TarnwickConfigRegAdapter.h"
#include "configapp/fTarnwickConfig.h"
#include "rtl/AppRun.h"
#include "tests/support/FormSeams.h"
#include "tests/support/GuiDriver.h"
#include "tests/support/RawRegistry.h"

namespace {

const std::string Key = "SOFTWARE\\Brellow\\Tarnwick";

std::string ExeDir() {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path);
    return dir.substr(0, dir.find_last_of('\\') + 1);
}

// A stored configuration that OK accepts as it stands.
void StoreValid() {
    rawreg::SetString(Key, "FromEmail", "monitor@example.com");
    rawreg::SetString(Key + "\\EmailAddresses", "0", "admin@example.com");
}

// Runs the window as the program does (constructor, FormCreate, message
// loop) while script drives it from a second thread.
void Drive(TfrmKorrinConfigMain& form, const std::function<void()>& script) {
    gui::Driver driver([&] {
        ASSERT_TRUE(gui::WaitVisible(form.Handle()));
        script();
    });
    RunMainForm(form);
}

HWND H(TControl* c) { return c->Handle(); }

// A click on a list view row, as the mouse does it; -1 clicks below the rows.
// A double click that opens a dialog is posted, so the script goes on.
void ClickRow(HWND list, int row, bool dbl = false, bool post = false) {
    RECT r{};
    if (row >= 0) {
        r.left = LVIR_BOUNDS;
        SendMessageA(list, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&r));
    } else {
        GetClientRect(list, &r);
        r.top = r.bottom - 6;
    }
    LPARAM pt = MAKELPARAM(r.left + 4, r.top + 3);
    gui::StillPointer still(list, pt);
    SendMessageA(list, WM_LBUTTONDOWN, MK_LBUTTON, pt);
    SendMessageA(list, WM_LBUTTONUP, 0, pt);
    if (dbl) {
        auto send = post ? PostMessageA : [](HWND h, UINT m, WPARAM w, LPARAM l) {
            SendMessageA(h, m, w, l);
            return TRUE;
        };
        send(list, WM_LBUTTONDBLCLK, MK_LBUTTON, pt);
        send(list, WM_LBUTTONUP, 0, pt);
    }
}

void ClickTab(TfrmKorrinConfigMain& form, int page) {
    HWND tabs = H(form.pcMain);
    SendMessageA(tabs, TCM_SETCURSEL, page, 0);
    NMHDR nm{tabs, static_cast<UINT_PTR>(GetDlgCtrlID(tabs)), static_cast<UINT>(TCN_SELCHANGE)};
    SendMessageA(form.Handle(), WM_NOTIFY, nm.idFrom, reinterpret_cast<LPARAM>(&nm));
}

class MainWindowTest : public ::testing::Test {
protected:
    // A key left read-only by a test that died could not be deleted, and
    // would refuse every later save.
    void SetUp() override {
        rawreg::UnrestrictKey(Key);
        rawreg::DeleteTree(Key);
        Application().Title = "Tarnwick Configuration Application";
    }
    void TearDown() override {
        rawreg::UnrestrictKey(Key);
        rawreg::DeleteTree(Key);
    }
    rawreg::Value Read(const std::string& name, const std::string& sub = "") {
        return rawreg::Get(sub.empty() ? Key : Key + "\\" + sub, name);
    }
    gui::Seams seams;
};

TEST_F(MainWindowTest, WithoutAConfigurationKeyOkNeedsRecipientsThenWritesEverything) {
    TfrmKorrinConfigMain form;
    form.FormCreate(&form);
    EXPECT_EQ(form.cbStartupWaitPeriod->Count(), 8);
    EXPECT_EQ(form.cbStartupWaitPeriod->ItemIndex(), 0);  // "Immediately": a wait of 0
    EXPECT_TRUE(gui::Checked(H(form.cbIntenalMX)));
    EXPECT_FALSE(form.edtPrimarySMTP->Enabled());
    EXPECT_FALSE(form.edtFailoverSMTP->Enabled());
    EXPECT_FALSE(form.btnServiceEdit->Enabled());
    EXPECT_TRUE(form.btnServiceAdd->Enabled());
    EXPECT_NE(Application().HelpFile.find("\\Tarnwick_Lite.chm"), std::string::npos);

    Drive(form, [&] {
        gui::Type(H(form.edtFromEmail), "monitor@example.com");
        // No recipients: the warning, then the recipients dialog opens.
        gui::PostClick(H(form.btnOk));
        HWND list = gui::WaitForWindow("Email Addresses");
        ASSERT_NE(list, nullptr);
        ASSERT_EQ(seams.BoxCount(), 1u);
        EXPECT_EQ(seams.LastBox().Request.Caption, "Warning");
        EXPECT_EQ(seams.LastBox().Request.Text,
                  "No email addresses have been configured. Please enter at \r\nleast one email "
                  "address.");
        gui::PostClick(GetDlgItem(list, 102));  // Add
        HWND edit = gui::WaitForWindow("Email Address");
        ASSERT_NE(edit, nullptr);
        gui::Type(GetDlgItem(edit, 100), "admin@example.com");
        gui::Click(GetDlgItem(edit, IDOK));
        ASSERT_TRUE(gui::WaitHidden(edit));
        gui::Click(GetDlgItem(list, IDOK));
        ASSERT_TRUE(gui::WaitHidden(list));
        // The window stays open and nothing was written, although a recipient
        // was added.
        EXPECT_TRUE(IsWindowVisible(form.Handle()));
        EXPECT_FALSE(rawreg::KeyExists(Key));
        EXPECT_EQ(form.ModalResult(), mrNone);
        // OK again writes the whole configuration.
        gui::Click(H(form.btnOk));
        EXPECT_TRUE(gui::WaitHidden(form.Handle()));
    });
    EXPECT_EQ(Read("FromEmail").Text(), "monitor@example.com");
    EXPECT_EQ(Read("0", "EmailAddresses").Text(), "admin@example.com");
    EXPECT_EQ(Read("StartupWaitPeriod").Dword(), 0u);
    EXPECT_EQ(Read("PrimarySMTPTransportType").Text(), "Direct");
    EXPECT_TRUE(Read("WriteAlertsToEventLog").Exists);
}

TEST_F(MainWindowTest, WaitOutsideTheTableIsKeptUnlessOneOfTheEightIsChosen) {
    StoreValid();
    struct Case {
        int pick;  // -1: leave as loaded
        DWORD stored;
    } cases[] = {{-1, 75}, {8, 75}, {3, 60}};
    for (const Case& c : cases) {
        rawreg::SetDword(Key, "StartupWaitPeriod", 75);
        TfrmKorrinConfigMain form;
        form.FormCreate(&form);
        ASSERT_EQ(form.cbStartupWaitPeriod->Count(), 9);
        EXPECT_EQ(form.cbStartupWaitPeriod->Item(8), "75");
        EXPECT_EQ(form.cbStartupWaitPeriod->ItemIndex(), -1);
        Drive(form, [&] {
            if (c.pick >= 0)
                gui::PickComboItem(H(form.cbStartupWaitPeriod), c.pick);
            gui::Click(H(form.btnOk));
            EXPECT_TRUE(gui::WaitHidden(form.Handle()));
        });
        EXPECT_EQ(Read("StartupWaitPeriod").Dword(), c.stored) << "pick " << c.pick;
    }
    rawreg::SetDword(Key, "StartupWaitPeriod", 90);
    TfrmKorrinConfigMain form;
    form.FormCreate(&form);
    EXPECT_EQ(form.cbStartupWaitPeriod->Count(), 8);
    EXPECT_EQ(form.cbStartupWaitPeriod->Text(), "1.5m");
}

TEST_F(MainWindowTest, StoredAlertSwitchesSurviveWhileTheEventLogIsOff) {
    StoreValid();
    rawreg::SetDword(Key, "WriteAlertsToEventLog", 0);
    rawreg::SetDword(Key, "ServiceStartupEvent", 1);
    rawreg::SetDword(Key, "ProcessTerminationEvent", 1);
    rawreg::SetDword(Key, "TarnwickShutdownEvent", 1);
    TfrmKorrinConfigMain form;
    form.FormCreate(&form);
    EXPECT_TRUE(form.cbServiceStartupEvent->Checked());
    EXPECT_FALSE(form.cbServiceStartupEvent->Enabled());
    EXPECT_FALSE(form.cbServiceShutdownEvent->Checked());
    EXPECT_TRUE(form.cbProcessTerminationEvent->Checked());
    EXPECT_TRUE(form.cbTarnwickShutdownEvent->Checked());
    Drive(form, [&] {
        gui::Click(H(form.btnOk));
        EXPECT_TRUE(gui::WaitHidden(form.Handle()));
    });
    EXPECT_EQ(Read("WriteAlertsToEventLog").Dword(), 0u);
    EXPECT_EQ(Read("ServiceStartupEvent").Dword(), 1u);
    EXPECT_EQ(Read("ServiceShutdownEvent").Dword(), 0u);
    EXPECT_EQ(Read("ProcessTerminationEvent").Dword(), 1u);
    EXPECT_EQ(Read("TarnwickShutdownEvent").Dword(), 1u);
}

TEST_F(MainWindowTest, RulesOfTheMailRouteFailOverAndEventLogBoxes) {
    StoreValid();
    rawreg::SetString(Key, "PrimarySMTPHost", "relay.example.com");
    rawreg::SetString(Key, "FailoverSMTPHost", "backup.example.com");
    rawreg::SetDword(Key, "UseFailoverSMTPHost", 1);
    rawreg::SetDword(Key, "ServiceStartupEvent", 1);
    TfrmKorrinConfigMain form;
    form.FormCreate(&form);
    Drive(form, [&] {
        EXPECT_FALSE(IsWindowEnabled(H(form.edtPrimarySMTP)));
        gui::Click(H(form.cbUseSMTP));
        EXPECT_TRUE(gui::Checked(H(form.cbUseSMTP)));
        EXPECT_FALSE(gui::Checked(H(form.cbIntenalMX)));
        EXPECT_TRUE(IsWindowEnabled(H(form.edtPrimarySMTP)));
        gui::Click(H(form.cbIntenalMX));
        EXPECT_FALSE(gui::Checked(H(form.cbUseSMTP)));
        EXPECT_FALSE(IsWindowEnabled(H(form.edtPrimarySMTP)));
        EXPECT_EQ(gui::Text(H(form.edtPrimarySMTP)), "relay.example.com");

        EXPECT_TRUE(IsWindowEnabled(H(form.edtFailoverSMTP)));
        gui::Click(H(form.cbUseFailoverSMTP));
        EXPECT_FALSE(IsWindowEnabled(H(form.edtFailoverSMTP)));

        ClickTab(form, TfrmKorrinConfigMain::PageEventLog);
        gui::Click(H(form.cbWriteAlertsToEventLog));  // on: all six ticked and enabled
        for (TCheckBox* b : {form.cbServiceStartupEvent, form.cbServiceShutdownEvent,
                             form.cbProcessStartupEvent, form.cbProcessTerminationEvent,
                             form.cbTarnwickStartupEvent, form.cbTarnwickShutdownEvent}) {
            EXPECT_TRUE(gui::Checked(H(b)));
            EXPECT_TRUE(IsWindowEnabled(H(b)));
        }
        gui::Click(H(form.cbWriteAlertsToEventLog));  // off: all unticked and disabled
        for (TCheckBox* b : {form.cbServiceStartupEvent, form.cbTarnwickShutdownEvent}) {
            EXPECT_FALSE(gui::Checked(H(b)));
            EXPECT_FALSE(IsWindowEnabled(H(b)));
        }
        gui::Click(H(form.btnOk));
        EXPECT_TRUE(gui::WaitHidden(form.Handle()));
    });
    EXPECT_EQ(Read("PrimarySMTPTransportType").Text(), "Direct");
    EXPECT_EQ(Read("PrimarySMTPHost").Text(), "relay.example.com");
    EXPECT_EQ(Read("UseFailoverSMTPHost").Dword(), 0u);
    EXPECT_EQ(Read("FailoverSMTPHost").Text(), "backup.example.com");
    EXPECT_EQ(Read("ServiceStartupEvent").Dword(), 0u);
}

// The title-bar help button, then a click on each control of each page: its own
// context, also for the controls a default configuration leaves disabled (the
// system then names the window, and the point of the click decides).
TEST_F(MainWindowTest, TheHelpButtonOnAnyControlAsksForItsOwnContext) {
    TfrmKorrinConfigMain form;
    form.FormCreate(&form);
    std::vector<std::pair<unsigned, std::uintptr_t>> expected;
    int disabled = 0;
    Drive(form, [&] {
        for (int page = 0; page < TfrmKorrinConfigMain::PageAbout; ++page) {
            ClickTab(form, page);
            for (HWND c = GetWindow(form.Handle(), GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
                RECT r;
                if (GetWindowContextHelpId(c) == 0 || !IsWindowVisible(c) || !GetWindowRect(c, &r))
                    continue;
                disabled += IsWindowEnabled(c) ? 0 : 1;
                HELPINFO info{sizeof(HELPINFO), HELPINFO_WINDOW, 0,
                              IsWindowEnabled(c) ? c : form.Handle(), 0,
                              {(r.left + r.right) / 2, (r.top + r.bottom) / 2}};
                SendMessageA(form.Handle(), WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
                expected.push_back({HELP_CONTEXT, GetWindowContextHelpId(c)});
            }
        }
        // The system's F1 (WM_KEYF1) on a box without context: none, whatever is under the pointer.
        ClickTab(form, TfrmKorrinConfigMain::PageEventLog);
        gui::PointerTo(H(form.cbTarnwickStartupEvent), MAKELPARAM(4, 4));
        PostMessageA(H(form.cbTarnwickShutdownEvent), 0x004D, 0, 0);
        gui::PostKey(H(form.cbWriteAlertsToEventLog), VK_F1);
        expected.push_back({HELP_CONTEXT, 10013});
        EXPECT_TRUE(gui::WaitUntil([&] { return seams.Help().size() >= expected.size(); }));
        gui::Click(H(form.btnCancel));
        EXPECT_TRUE(gui::WaitHidden(form.Handle()));
    });
    EXPECT_EQ(expected.size(), 27u);  // 26 controls, then the F1 on the master box
    EXPECT_GE(disabled, 8);  // the host edits and the six event-log boxes
    EXPECT_EQ(seams.Help(), expected);
}

TEST_F(MainWindowTest, BadFromAddressKeepsTheWindowAndTheCloseBoxTriesOkAgain) {
    StoreValid();
    rawreg::SetString(Key, "FromEmail", "no-at-sign");
    rawreg::SetDword(Key, "StartupWaitPeriod", 300);
    TfrmKorrinConfigMain form;
    form.FormCreate(&form);
    Drive(form, [&] {
        ClickTab(form, TfrmKorrinConfigMain::PageServices);
        gui::Click(H(form.btnOk));
        ASSERT_EQ(seams.BoxCount(), 1u);
        EXPECT_EQ(seams.LastBox().Request.Caption, "Warning");
        EXPECT_EQ(seams.LastBox().Request.Text, "Please enter a valid From Email Address.");
        EXPECT_EQ(SendMessageA(H(form.pcMain), TCM_GETCURSEL, 0, 0),
                  TfrmKorrinConfigMain::PageGeneral);
        EXPECT_TRUE(IsWindowVisible(H(form.edtFromEmail)));
        EXPECT_EQ(form.ModalResult(), mrOk);
        // The close box runs the OK path again: a second warning.
        gui::PostCloseBox(form.Handle());
        ASSERT_TRUE(gui::WaitUntil([&] { return seams.BoxCount() == 2; }));
        EXPECT_TRUE(IsWindowVisible(form.Handle()));
        gui::Type(H(form.edtFromEmail), "");
        gui::Click(H(form.btnOk));
        EXPECT_EQ(seams.BoxCount(), 3u);  // empty is refused too
        gui::Click(H(form.btnHelp));
        // After Help the close box closes without saving.
        gui::PostCloseBox(form.Handle());
        EXPECT_TRUE(gui::WaitHidden(form.Handle()));
    });
    EXPECT_EQ(Read("FromEmail").Text(), "no-at-sign");
    auto help = seams.Help();
    ASSERT_EQ(help.size(), 1u);
    EXPECT_EQ(help[0].first, static_cast<unsigned>(HELP_FINDER));
}

TEST_F(MainWindowTest, ListsShowSortedRowsAndRemoveAsksFirst) {
    StoreValid();
    auto svc = [&](const char* name, DWORD start, DWORD stop, DWORD failure) {
        std::string k = "Services\\" + std::string(name);
        rawreg::SetString(Key + "\\" + k, "ServiceName", name);
        rawreg::SetDword(Key + "\\" + k, "RaiseStartupEvent", start);
        rawreg::SetDword(Key + "\\" + k, "RaiseShutdownEvent", stop);
        rawreg::SetDword(Key + "\\" + k, "OnlyShutdownFailureEvent", failure);
    };
    svc("Spooler", 1, 1, 1);
    svc("Alpha", 0, 0, 1);
    svc("Mid", 1, 1, 0);
    rawreg::SetString(Key + "\\Processes\\notepad.exe", "ApplicationPath",
                      "C:\\Windows\\notepad.exe");
    rawreg::SetDword(Key + "\\Processes\\notepad.exe", "RaiseShutdownEvent", 1);
    TfrmKorrinConfigMain form;
    form.FormCreate(&form);
    TListView* lv = form.lvServices;
    ASSERT_EQ(lv->Count(), 3);
    EXPECT_EQ(lv->Cell(0, 0), "Alpha");
    EXPECT_EQ(lv->Cell(0, 1), "No");
    EXPECT_EQ(lv->Cell(0, 2), "No");  // failure-only without shutdown alerts
    EXPECT_EQ(lv->Cell(1, 0), "Mid");
    EXPECT_EQ(lv->Cell(1, 2), "Yes");
    EXPECT_EQ(lv->Cell(2, 0), "Spooler");
    EXPECT_EQ(lv->Cell(2, 2), "Failure");
    EXPECT_EQ(lv->ColumnCaption(0), "Service");
    EXPECT_EQ(lv->ColumnWidth(0), 150);
    ASSERT_EQ(form.lvProcesses->Count(), 1);
    EXPECT_EQ(form.lvProcesses->Cell(0, 0), "notepad.exe");
    EXPECT_EQ(form.lvProcesses->Cell(0, 1), "No");
    EXPECT_EQ(form.lvProcesses->Cell(0, 2), "Yes");
    EXPECT_EQ(form.lvProcesses->ColumnCaption(0), "Name");

    Drive(form, [&] {
        ClickTab(form, TfrmKorrinConfigMain::PageServices);
        ClickRow(H(lv), 1);
        EXPECT_TRUE(IsWindowEnabled(H(form.btnServiceEdit)));
        EXPECT_TRUE(IsWindowEnabled(H(form.btnServiceRemove)));
        ClickRow(H(lv), -1);  // empty space
        EXPECT_FALSE(IsWindowEnabled(H(form.btnServiceEdit)));
        EXPECT_FALSE(IsWindowEnabled(H(form.btnServiceRemove)));
        EXPECT_TRUE(IsWindowEnabled(H(form.btnServiceAdd)));

        ClickRow(H(lv), 1);
        seams.Answer(mrNo);
        gui::Click(H(form.btnServiceRemove));
        ASSERT_EQ(seams.BoxCount(), 1u);
        EXPECT_EQ(seams.LastBox().Request.Caption, "Confirm");
        EXPECT_EQ(seams.LastBox().Request.Text,
                  "Are you sure you want to remove this service from the list of \r\nmonitored "
                  "services?");
        EXPECT_EQ(seams.LastBox().Request.Buttons, static_cast<unsigned>(mbYes | mbNo));
        EXPECT_EQ(lv->Count(), 3);
        seams.Answer(mrYes);
        gui::Click(H(form.btnServiceRemove));
        EXPECT_EQ(lv->Count(), 2);
        EXPECT_EQ(gui::FocusOf(form.Handle()), H(lv));  // not lost with the disabled button
        EXPECT_EQ(lv->Cell(1, 0), "Spooler");
        EXPECT_EQ(lv->Selected(), -1);
        EXPECT_FALSE(IsWindowEnabled(H(form.btnServiceEdit)));

        ClickTab(form, TfrmKorrinConfigMain::PageProcesses);
        ClickRow(H(form.lvProcesses), 0);
        gui::Click(H(form.btnProcessRemove));
        EXPECT_EQ(seams.LastBox().Request.Text,
                  "Are you sure you want to remove this process from the list of \r\nmonitored "
                  "processes?");
        EXPECT_EQ(form.lvProcesses->Count(), 0);
        // Cancel: the removals stay in memory only.
        gui::PostKey(H(form.lvProcesses), VK_ESCAPE);
        EXPECT_TRUE(gui::WaitHidden(form.Handle()));
    });
    EXPECT_TRUE(rawreg::KeyExists(Key + "\\Services\\Mid"));
    EXPECT_TRUE(rawreg::KeyExists(Key + "\\Processes\\notepad.exe"));
}

TEST_F(MainWindowTest, CancelAfterChangesInTheRecipientsDialogWritesNothing) {
    StoreValid();
    TfrmKorrinConfigMain form;
    form.FormCreate(&form);
    Drive(form, [&] {
        gui::PostAltKey(H(form.edtFromEmail), 'R');
        HWND list = gui::WaitForWindow("Email Addresses");
        ASSERT_NE(list, nullptr);
        gui::PostClick(GetDlgItem(list, 102));
        HWND edit = gui::WaitForWindow("Email Address");
        ASSERT_NE(edit, nullptr);
        gui::Type(GetDlgItem(edit, 100), "second@example.com");
        gui::Click(GetDlgItem(edit, IDOK));
        ASSERT_TRUE(gui::WaitHidden(edit));
        gui::Click(GetDlgItem(list, IDOK));
        ASSERT_TRUE(gui::WaitHidden(list));
        EXPECT_EQ(form.Config()->EmailAddresses->Count(), 2);
        // The focus is back on the button: Enter opens the dialog again.
        gui::PostKey(H(form.btnEmailAddresses), VK_RETURN);
        ASSERT_NE(list = gui::WaitForWindow("Email Addresses"), nullptr);
        gui::PostKey(list, VK_ESCAPE);
        gui::PostKey(H(form.edtFromEmail), VK_ESCAPE);
        EXPECT_TRUE(gui::WaitHidden(form.Handle()));
    });
    EXPECT_TRUE(Read("0", "EmailAddresses").Exists);
    EXPECT_FALSE(Read("1", "EmailAddresses").Exists);
}

TEST_F(MainWindowTest, AConfigurationThatCannotBeLoadedIsReportedAndDisablesThePages) {
    rawreg::SetString(Key, "StartupWaitPeriod", "not a number");
    TfrmKorrinConfigMain form;
    form.FormCreate(&form);
    ASSERT_EQ(seams.BoxCount(), 1u);
    EXPECT_TRUE(seams.LastBox().Request.ExceptionBox);
    EXPECT_EQ(seams.LastBox().Request.Caption, "Tarnwick Configuration Application");
    EXPECT_EQ(form.Config(), nullptr);
    EXPECT_FALSE(form.edtFromEmail->Enabled());
    EXPECT_FALSE(form.btnServiceAdd->Enabled());
    EXPECT_FALSE(form.lvProcesses->Enabled());
    Drive(form, [&] {
        gui::Click(H(form.btnServiceAdd));  // disabled: nothing
        gui::Click(H(form.btnOk));          // nothing to save: closes
        EXPECT_TRUE(gui::WaitHidden(form.Handle()));
    });
    EXPECT_EQ(Read("StartupWaitPeriod").Text(), "not a number");
    EXPECT_EQ(seams.BoxCount(), 1u);
}

// What the program shows (and returns) when its window cannot be made.
TEST_F(MainWindowTest, AFailureBeforeTheWindowRunsGetsTheRuntimesApplicationErrorBox) {
    EXPECT_EQ(ShowStartupException(EOSError("System Error.  Code: 5.\r\nAccess is denied", 5)), 1);
    ASSERT_EQ(seams.BoxCount(), 1u);
    EXPECT_TRUE(seams.LastBox().Request.ExceptionBox);
    EXPECT_EQ(seams.LastBox().Request.Caption, "Application Error");
    EXPECT_EQ(seams.LastBox().Request.Text, "Exception EOSError in module configapp_MainWindowTest.exe."
                                            "\r\nSystem Error.  Code: 5.\r\nAccess is denied.");
}

TEST_F(MainWindowTest, OkSetsTheControlEventOfARunningMonitorWithoutAMessage) {
    StoreValid();
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, TarnwickControlEventName);
    ASSERT_NE(event, nullptr);
    TfrmKorrinConfigMain form;
    form.FormCreate(&form);
    Drive(form, [&] {
        gui::Click(H(form.btnOk));
        EXPECT_TRUE(gui::WaitHidden(form.Handle()));
    });
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(seams.BoxCount(), 0u);
    CloseHandle(event);
}

TEST_F(MainWindowTest, LinksOpenTheirPagesAndEveryPageIsPhotographed) {
    StoreValid();
    rawreg::SetString(Key + "\\Services\\Spooler", "ServiceName", "Spooler");
    rawreg::SetString(Key + "\\Processes\\notepad.exe", "ApplicationPath",
                      "C:\\Windows\\notepad.exe");
    TfrmKorrinConfigMain form;
    form.FormCreate(&form);
    std::vector<std::string> opened;
    form.OnOpenWebPage = [&](const std::string& url) { opened.push_back(url); };
    Drive(form, [&] {
        const char* names[] = {"main-1-general", "main-2-eventlog", "main-3-services",
                               "main-4-processes", "main-5-about"};
        // The pages' area, read from the screen: on top, away from other tests.
        SetWindowPos(form.Handle(), HWND_TOPMOST, 800, 0, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
        RECT pages{};
        GetClientRect(H(form.pcMain), &pages);
        TabCtrl_AdjustRect(H(form.pcMain), FALSE, &pages);
        MapWindowPoints(H(form.pcMain), nullptr, reinterpret_cast<POINT*>(&pages), 2);
        // Reached through the tabs' accelerators, which come before those of
        // the controls ("Use &SMTP host", "&Primary SMTP host", "&Add", ...).
        for (int page : {1, 2, 0, 3, 4}) {
            // To the focus; to the window itself while it has none (other
            // tests' windows take the activation now and then).
            HWND focus = gui::FocusOf(form.Handle());
            gui::PostAltKey(focus != nullptr ? focus : form.Handle(), "GESPA"[page]);
            EXPECT_TRUE(gui::WaitUntil([&] { return form.pcMain->ActivePageIndex() == page; }));
            EXPECT_FALSE(gui::SaveScreenshot(form.Handle(), names[page]).empty());
            // The screen shows the page as a full repaint does: nothing of the last.
            std::vector<DWORD> shown = gui::ScreenPixels(pages);
            RedrawWindow(form.Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE |
                         RDW_ALLCHILDREN | RDW_UPDATENOW);
            EXPECT_TRUE(gui::ScreenPixels(pages) == shown) << names[page];
        }
        for (TControl* link : {form.lblTarnwickHome, form.lblBrellowHome, form.lblTarnwickSupport}) {
            SendMessageA(H(link), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
            SendMessageA(H(link), WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
        }
        gui::Click(H(form.btnCancel));
        EXPECT_TRUE(gui::WaitHidden(form.Handle()));
    });
    ASSERT_EQ(opened.size(), 3u);
    for (const std::string& url : opened)
        EXPECT_EQ(url.rfind("https://www.example.com/", 0), 0u) << url;
    EXPECT_NE(opened[0], opened[2]);
}

}  // namespace

namespace {

// A stand-in for the monitoring service under its real name, made from the
// service framework's probe, removed again at the end.
class StandInService {
public:
    StandInService() {
        FManager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        if (FManager == nullptr)
            return;
        Remove();
        std::string bin = "\"" + ExeDir() + "svcfw_probe.exe\" " + TarnwickServiceName;
        FService = CreateServiceA(FManager, TarnwickServiceName, "Tarnwick Monitor",
                                  SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                  SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, bin.c_str(),
                                  nullptr, nullptr, nullptr, nullptr, nullptr);
        FError = FService == nullptr ? GetLastError() : 0;
    }
    ~StandInService() {
        if (FService != nullptr) {
            SERVICE_STATUS st;
            ControlService(FService, SERVICE_CONTROL_STOP, &st);
            gui::WaitUntil([&] { return State() == SERVICE_STOPPED; }, 15000);
            DeleteService(FService);
            CloseServiceHandle(FService);
        }
        if (FManager != nullptr)
            CloseServiceHandle(FManager);
    }
    bool Installed() const { return FService != nullptr; }
    DWORD Error() const { return FError; }
    bool Disable() {
        return ChangeServiceConfigA(FService, SERVICE_NO_CHANGE, SERVICE_DISABLED,
                                    SERVICE_NO_CHANGE, nullptr, nullptr, nullptr, nullptr,
                                    nullptr, nullptr, nullptr) != FALSE;
    }
    DWORD State() const {
        SERVICE_STATUS st{};
        return QueryServiceStatus(FService, &st) ? st.dwCurrentState : 0;
    }

private:
    void Remove() {
        SC_HANDLE old = OpenServiceA(FManager, TarnwickServiceName, SERVICE_ALL_ACCESS);
        if (old == nullptr)
            return;
        SERVICE_STATUS st;
        ControlService(old, SERVICE_CONTROL_STOP, &st);
        DeleteService(old);
        CloseServiceHandle(old);
    }
    SC_HANDLE FManager = nullptr;
    SC_HANDLE FService = nullptr;
    DWORD FError = 0;
};

TEST_F(MainWindowTest, OkWithTheServiceStoppedAsksAndOnlyYesStartsIt) {
    StandInService service;
    if (!service.Installed())
        GTEST_SKIP() << "the stand-in service could not be installed: " << service.Error();
    StoreValid();
    for (int answer : {mrNo, mrYes}) {
        seams.Answer(answer);
        size_t before = seams.BoxCount();
        TfrmKorrinConfigMain form;
        form.FormCreate(&form);
        Drive(form, [&] {
            gui::Click(H(form.btnOk));
            EXPECT_TRUE(gui::WaitHidden(form.Handle()));
        });
        ASSERT_EQ(seams.BoxCount(), before + 1);
        EXPECT_EQ(seams.LastBox().Request.Caption, "Confirm");
        EXPECT_EQ(seams.LastBox().Request.Text,
                  "The Tarnwick service is currently stopped. Would you like \r\nto start it now?");
        EXPECT_TRUE(Read("FromEmail").Exists);  // saved in every case
        if (answer == mrNo) {
            EXPECT_EQ(service.State(), static_cast<DWORD>(SERVICE_STOPPED));
        }
    }
    EXPECT_TRUE(gui::WaitUntil([&] {
        DWORD s = service.State();
        return s == SERVICE_RUNNING || s == SERVICE_START_PENDING;
    }));
}

// A start the service control manager refuses (here: the service is
// disabled) is reported after Yes, and the window still closes: the
// configuration was saved before the question.
TEST_F(MainWindowTest, ARefusedStartIsReportedAndTheWindowStillCloses) {
    StandInService service;
    if (!service.Installed())
        GTEST_SKIP() << "the stand-in service could not be installed: " << service.Error();
    ASSERT_TRUE(service.Disable());
    StoreValid();
    seams.Answer(mrYes);
    TfrmKorrinConfigMain form;
    form.FormCreate(&form);
    Drive(form, [&] {
        gui::Click(H(form.btnOk));
        EXPECT_TRUE(gui::WaitHidden(form.Handle()));
    });
    ASSERT_EQ(seams.BoxCount(), 2u);
    EXPECT_EQ(seams.LastBox().Request.Caption, "Error");
    EXPECT_EQ(seams.LastBox().Request.Text,
              "Unable to start the Tarnwick service: \r\nSystem Error.  Code: 1058.\r\n" +
                  SysErrorMessage(ERROR_SERVICE_DISABLED));
    EXPECT_EQ(service.State(), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_TRUE(Read("FromEmail").Exists);
}

// Minimised and restored through its task-bar window (system commands, "minimise
// all", Close with a modal form open), it keeps running; Maximize does nothing.
TEST_F(MainWindowTest, TheProgramOpensItsWindowWithTheHelpFileBesideItAndCancelEndsIt) {
    std::string bin = ExeDir() + "..\\bin\\";
    EXPECT_NE(GetFileAttributesA((bin + TarnwickHelpFileName).c_str()), INVALID_FILE_ATTRIBUTES);
    StoreValid();
    std::string cmd = "\"" + bin + "TWCfgApp.exe\"";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                               &pi));
    HWND main = nullptr;
    EXPECT_TRUE(gui::WaitUntil([&] {
        main = FindWindowA(nullptr, "Tarnwick Lite");
        return main != nullptr && IsWindowVisible(main);
    }));
    if (main != nullptr) {
        RECT client{};
        GetClientRect(main, &client);
        EXPECT_EQ(client.right, 433);
        EXPECT_EQ(client.bottom, 387);
        // The task-bar button is that of the visible, unowned window that
        // owns the main window (which has none of its own): the title's.
        HWND app = GetWindow(main, GW_OWNER);
        EXPECT_EQ(gui::Text(app), "Tarnwick Configuration Application");
        EXPECT_TRUE(IsWindowVisible(app) && GetWindow(app, GW_OWNER) == nullptr);
        EXPECT_EQ((GetWindowLongA(app, GWL_EXSTYLE) & WS_EX_TOOLWINDOW) |
                      (GetWindowLongA(main, GWL_EXSTYLE) & WS_EX_APPWINDOW), 0);
        HWND from = GetDlgItem(main, IDC_FROM_EMAIL);
        EXPECT_EQ(gui::Text(from), "monitor@example.com");
        SendMessageA(main, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(from), TRUE);
        gui::Type(from, "edited@example.com");
        EXPECT_TRUE(gui::SendReturns(app, WM_SYSCOMMAND, SC_MAXIMIZE, 0));
        EXPECT_FALSE(IsZoomed(app));
        for (int way : {0, 1, 2}) {
            HWND dialog = nullptr;
            if (way == 2) {
                gui::PostClick(GetDlgItem(main, IDC_EMAIL_ADDRESSES));
                dialog = gui::WaitForWindow("Email Addresses", pi.dwProcessId);
            }
            auto taskBar = [&](bool minimise) {
                if (way == 1)
                    ShowWindowAsync(app, minimise ? SW_MINIMIZE : SW_RESTORE);
                else
                    PostMessageA(app, WM_SYSCOMMAND,
                                 minimise ? SC_MINIMIZE : dialog ? SC_CLOSE : SC_RESTORE, 0);
            };
            taskBar(true);
            EXPECT_TRUE(gui::WaitUntil([&] { return IsIconic(app) && !IsWindowVisible(main); }));
            EXPECT_EQ(WaitForSingleObject(pi.hProcess, 2000), static_cast<DWORD>(WAIT_TIMEOUT));
            taskBar(false);
            // Activated with it, the form on top takes the keyboard back.
            EXPECT_TRUE(gui::WaitUntil([&] {
                HWND focus = gui::FocusOf(main);
                return IsWindowVisible(main) && (dialog ? IsChild(dialog, focus) : focus == from);
            })) << "way " << way;
            if (dialog != nullptr)
                PostMessageA(dialog, WM_CLOSE, 0, 0);
        }
        EXPECT_EQ(gui::Text(from), "edited@example.com");
        PostMessageA(GetDlgItem(main, IDCANCEL), BM_CLICK, 0, 0);
    }
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, 15000), WAIT_OBJECT_0);
    DWORD code = 99;
    GetExitCodeProcess(pi.hProcess, &code);
    EXPECT_EQ(code, 0u);
    if (code == STILL_ACTIVE)
        TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    EXPECT_EQ(Read("FromEmail").Text(), "monitor@example.com");
}

// The files as shipped. The execution level is read as Windows reads it: from
// an activation context made of the program's manifest. The programs carry
// no debug sections, only the link to the file that keeps them.
TEST(Deliverables, TheConfigurationProgramAsksForTheHighestRightsAndAllCarryTheirVersion) {
    const std::string bin = ExeDir() + "..\\bin\\", cfg = bin + "TWCfgApp.exe";
    ACTCTXA ctx{sizeof ctx, ACTCTX_FLAG_RESOURCE_NAME_VALID, cfg.c_str(), 0, 0, nullptr,
                CREATEPROCESS_MANIFEST_RESOURCE_ID, nullptr, nullptr};
    HANDLE actctx = CreateActCtxA(&ctx);
    ASSERT_NE(actctx, INVALID_HANDLE_VALUE) << GetLastError();
    ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION level{};
    EXPECT_TRUE(QueryActCtxW(0, actctx, nullptr, RunlevelInformationInActivationContext, &level,
                             sizeof level, nullptr));
    EXPECT_EQ(level.RunLevel, ACTCTX_RUN_LEVEL_HIGHEST_AVAILABLE);
    EXPECT_EQ(level.UiAccess, 0u);
    ReleaseActCtx(actctx);
    HMODULE svc = LoadLibraryExA((bin + "twsvc.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    EXPECT_EQ(FindResourceA(svc, CREATEPROCESS_MANIFEST_RESOURCE_ID, RT_MANIFEST), nullptr);

    for (auto [file, description] : std::map<std::string, std::string>{
             {"twsvc.exe", "Tarnwick Monitor service"},
             {"TWCfgApp.exe", "Tarnwick Configuration Application"},
             {"twmsgs.dll", "Tarnwick event-log messages"}}) {
        std::string path = bin + file, info(GetFileVersionInfoSizeA(path.c_str(), nullptr), '\0');
        ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, info.size(), &info[0])) << file;
        std::string all;
        for (std::string name : {"CompanyName", "ProductName", "OriginalFilename", "FileVersion",
                                 "ProductVersion", "FileDescription"}) {
            char* text = nullptr;
            UINT len = 0;
            name = "\\StringFileInfo\\040904E4\\" + name;
            all += VerQueryValueA(info.data(), name.c_str(), reinterpret_cast<void**>(&text), &len)
                       ? std::string(text) + "|" : "(none)|";
        }
        EXPECT_EQ(all, "Brellow|Tarnwick|" + file + "|" TW_PROJECT_VERSION "|" TW_PROJECT_VERSION
                       "|" + description + "|");
        std::ifstream in(path, std::ios::binary);  // section names and all
        std::string bytes{std::istreambuf_iterator<char>(in), {}};
        EXPECT_EQ(bytes.find(".debug_"), std::string::npos) << file;
        EXPECT_EQ(bytes.find(".gnu_debuglink") == std::string::npos, file == "twmsgs.dll") << file;
    }
}

}  // namespace

namespace {

TEST_F(MainWindowTest, EditDialogsKeepTheEditedRowSelectedAndTestSmtpNeedsAValidSender) {
    StoreValid();
    rawreg::SetString(Key, "FromEmail", "");
    for (const char* name : {"Eventlog", "Spooler", "PlugPlay"}) {
        rawreg::SetString(Key + "\\Services\\" + name, "ServiceName", name);
        rawreg::SetDword(Key + "\\Services\\" + name, "RaiseStartupEvent", 1);
    }
    rawreg::SetString(Key + "\\Processes\\a.exe", "ApplicationPath", "C:\\Tools\\a.exe");
    TfrmKorrinConfigMain form;
    form.FormCreate(&form);
    Drive(form, [&] {
        // Test SMTP with no valid sender: the warning, and no test dialog.
        gui::Click(H(form.btnTestSMTP));
        ASSERT_EQ(seams.BoxCount(), 1u);
        EXPECT_EQ(seams.LastBox().Request.Text, "Please enter a valid From Email Address.");
        EXPECT_EQ(gui::FindVisible("Test SMTP"), nullptr);

        // A double click on the first service row edits it; its new switch
        // shows and the row stays selected.
        ClickTab(form, TfrmKorrinConfigMain::PageServices);
        ClickRow(H(form.lvServices), 0);
        ClickRow(H(form.lvServices), 0, true, true);
        HWND dlg = gui::WaitForWindow("Monitored Service");
        ASSERT_NE(dlg, nullptr);
        gui::Click(GetDlgItem(dlg, 102));  // "Service Startup" off
        gui::Click(GetDlgItem(dlg, IDOK));
        ASSERT_TRUE(gui::WaitHidden(dlg));
        EXPECT_TRUE(gui::WaitUntil([&] { return form.lvServices->Cell(0, 1) == "No"; }));
        EXPECT_EQ(form.lvServices->Selected(), 0);
        EXPECT_EQ(form.lvServices->Cell(0, 0), "Eventlog");

        // Edit on the program row, cancelled: nothing changes.
        ClickTab(form, TfrmKorrinConfigMain::PageProcesses);
        ClickRow(H(form.lvProcesses), 0);
        gui::PostClick(H(form.btnProcessEdit));
        dlg = gui::WaitForWindow("Monitored Process");
        ASSERT_NE(dlg, nullptr);
        EXPECT_EQ(gui::Text(GetDlgItem(dlg, 101)), "C:\\Tools\\a.exe");
        gui::Click(GetDlgItem(dlg, IDCANCEL));
        ASSERT_TRUE(gui::WaitHidden(dlg));
        EXPECT_EQ(form.lvProcesses->Selected(), 0);
        gui::Click(H(form.btnCancel));
        EXPECT_TRUE(gui::WaitHidden(form.Handle()));
    });
    EXPECT_EQ(rawreg::Get(Key + "\\Services\\Eventlog", "RaiseStartupEvent").Dword(), 1u);
}

}  // namespace

namespace {

// Takes the right to write the key away the way the registry does for a
// user who is not an administrator: its DACL grants everyone only KEY_READ.
// The owner keeps the right to change the DACL, so Lift can give write
// access back. The lock is on the configuration key itself, not on its
// parent: Wine (8.0) lets a subkey be created through a parent handle that
// holds only KEY_READ, where Windows refuses.
class ReadOnlyKey {
public:
    explicit ReadOnlyKey(std::string path)
        : FPath(std::move(path)), FRestricted(rawreg::RestrictKey(FPath, KEY_READ)) {}
    ~ReadOnlyKey() { Lift(); }
    ReadOnlyKey(const ReadOnlyKey&) = delete;
    ReadOnlyKey& operator=(const ReadOnlyKey&) = delete;

    bool Restricted() const { return FRestricted; }
    // True when the registry really refuses to open the key for writing.
    bool Enforced() const {
        HKEY key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, FPath.c_str(), 0, KEY_ALL_ACCESS, &key) !=
            ERROR_SUCCESS)
            return true;
        RegCloseKey(key);
        return false;
    }
    bool Lift() {
        if (FRestricted)
            FRestricted = !rawreg::UnrestrictKey(FPath);
        return !FRestricted;
    }

private:
    std::string FPath;
    bool FRestricted;
};

// Every value below the key, with its type and bytes, by path and name.
void Snapshot(const std::string& path, std::map<std::string, std::string>& out) {
    for (const std::string& name : rawreg::ValueNames(path)) {
        rawreg::Value v = rawreg::Get(path, name);
        out[path + "|" + name] = std::to_string(v.Type) + ":" + v.Data;
    }
    for (const std::string& sub : rawreg::SubkeyNames(path)) {
        out[path + "\\" + sub] = "key";
        Snapshot(path + "\\" + sub, out);
    }
}

std::map<std::string, std::string> Snapshot(const std::string& path) {
    std::map<std::string, std::string> out;
    Snapshot(path, out);
    return out;
}

TEST_F(MainWindowTest, OkWithoutTheRightToWriteShowsTheErrorWritesNothingAndTheCloseBoxTriesAgain) {
    StoreValid();
    rawreg::SetDword(Key, "StartupWaitPeriod", 120);
    rawreg::SetDword(Key, "RaiseStartupEvent", 1);
    ReadOnlyKey readOnly(Key);
    if (!readOnly.Restricted())
        GTEST_SKIP() << "the registry refused a new DACL";
    if (!readOnly.Enforced())
        GTEST_SKIP() << "this registry grants full access past a read-only DACL";
    const std::map<std::string, std::string> before = Snapshot(Key);
    ASSERT_FALSE(Read("PrimarySMTPTransportType").Exists);

    TfrmKorrinConfigMain form;
    form.FormCreate(&form);  // reading is still allowed
    ASSERT_NE(form.Config(), nullptr);
    EXPECT_EQ(seams.BoxCount(), 0u);
    Drive(form, [&] {
        // However the script ends, the key becomes writable again before the
        // driver closes what is left on screen: a close would otherwise run
        // the refused save once more.
        struct LiftOnExit {
            ReadOnlyKey& key;
            ~LiftOnExit() { key.Lift(); }
        } liftOnExit{readOnly};

        gui::Type(H(form.edtFromEmail), "changed@example.com");
        gui::Click(H(form.btnOk));
        ASSERT_EQ(seams.BoxCount(), 1u);
        const gui::RecordedBox box = seams.LastBox();
        EXPECT_TRUE(box.Request.ExceptionBox);
        EXPECT_EQ(box.Request.Caption, "Tarnwick Configuration Application");
        EXPECT_TRUE(box.Request.Type == TMsgDlgType::mtError);
        EXPECT_EQ(box.Request.Buttons, static_cast<unsigned>(mbOK));
        // The quote sorts before the full stop: none is added.
        EXPECT_EQ(box.Request.Text, "Failed to set data for 'PrimarySMTPTransportType'");
        EXPECT_TRUE(IsWindowVisible(form.Handle()));
        EXPECT_EQ(form.ModalResult(), mrOk);
        EXPECT_EQ(Snapshot(Key), before);

        // Still refused: the close box runs the OK path again, with the same
        // error, and the window stays.
        gui::PostCloseBox(form.Handle());
        ASSERT_TRUE(gui::WaitUntil([&] { return seams.BoxCount() == 2; }));
        // Answered only once the close box's handling is over.
        EXPECT_TRUE(gui::SendReturns(form.Handle(), WM_NULL, 0, 0));
        EXPECT_EQ(seams.LastBox().Request.Text, box.Request.Text);
        EXPECT_TRUE(IsWindowVisible(form.Handle()));
        EXPECT_EQ(form.ModalResult(), mrOk);
        EXPECT_EQ(Snapshot(Key), before);

        // With the right to write back, the close box saves and closes.
        ASSERT_TRUE(readOnly.Lift());
        gui::PostCloseBox(form.Handle());
        EXPECT_TRUE(gui::WaitHidden(form.Handle()));
    });
    EXPECT_EQ(seams.BoxCount(), 2u);
    EXPECT_EQ(Read("FromEmail").Text(), "changed@example.com");
    EXPECT_EQ(Read("PrimarySMTPTransportType").Text(), "Direct");
    EXPECT_EQ(Read("StartupWaitPeriod").Dword(), 120u);
    EXPECT_EQ(Read("RaiseStartupEvent").Dword(), 1u);
    EXPECT_EQ(Read("0", "EmailAddresses").Text(), "admin@example.com");
}

}  // namespace
