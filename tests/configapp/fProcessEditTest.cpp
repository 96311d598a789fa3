// The watched-program dialog opened for real: typed paths, the browse button
// (through the open-file dialog's seam, and once through the real dialog),
// the switches and the three refusals.
#include <windows.h>

#include <atomic>

#include <gtest/gtest.h>

#include "config/TarnwickConfig.h"
#include "configapp/fProcessEdit.h"
#include "tests/support/FormSeams.h"
#include "tests/support/GuiDriver.h"

namespace {

const char* kEmpty = "Please enter the path of the executable you wish to monitor.";
const char* kMissing = "File does not exist. Please choose an application.";
const char* kWatched = "You are already monitoring this process";

std::string Upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return s;
}

// A folder of its own with a program whose name is long (so that it has a
// distinct 8.3 form), a text file and a folder named like a program.
class ProcessEditTest : public ::testing::Test {
protected:
    void SetUp() override {
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        dir = std::string(temp) + "tw_procedit_" + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(dir.c_str(), nullptr);
        exe = dir + "\\Long Program Name.exe";
        txt = dir + "\\notes.txt";
        folder = dir + "\\folder.exe";
        for (const std::string& f : {exe, txt}) {
            HANDLE h = CreateFileA(f.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            ASSERT_NE(h, INVALID_HANDLE_VALUE);
            CloseHandle(h);
        }
        CreateDirectoryA(folder.c_str(), nullptr);
    }
    void TearDown() override {
        TOpenDialog::OnExecute = nullptr;
        DeleteFileA(exe.c_str());
        DeleteFileA(txt.c_str());
        RemoveDirectoryA(folder.c_str());
        RemoveDirectoryA(dir.c_str());
    }
    // OK refused with Text; the focus is on the path edit afterwards.
    void RefusedOk(const char* text) {
        size_t before = seams.BoxCount();
        gui::Click(form.btnOk->Handle());
        ASSERT_TRUE(gui::WaitUntil([&] { return seams.BoxCount() == before + 1; }));
        EXPECT_EQ(seams.LastBox().Request.Text, text);
        EXPECT_EQ(seams.LastBox().Request.Caption, "Warning");
        EXPECT_TRUE(gui::WaitUntil(
            [&] { return gui::FocusOf(form.Handle()) == form.edtApplicationPath->Handle(); }));
        EXPECT_TRUE(IsWindowVisible(form.Handle()));
    }
    HWND Path() const { return form.edtApplicationPath->Handle(); }

    std::string dir, exe, txt, folder;
    gui::Seams seams;
    TTarnwickConfig config;
    TfrmProcessEdit form;
};

TEST_F(ProcessEditTest, ANewEntryIsRefusedEmptyMissingAndWatchedThenTakesAnyExistingFile) {
    config.Processes->Add(new TProcessConfig(exe, true, true));
    std::unique_ptr<TProcessConfig> entry;
    bool result = false;
    {
        gui::Driver driver([&] {
            ASSERT_TRUE(gui::WaitVisible(form.Handle()));
            EXPECT_EQ(form.edtApplicationPath->Text(), "");
            EXPECT_TRUE(form.cbStatupEvent->Checked());
            EXPECT_TRUE(form.cbShutdownEvent->Checked());
            EXPECT_TRUE(gui::WaitUntil([&] { return gui::FocusOf(form.Handle()) == Path(); }));
            RefusedOk(kEmpty);
            gui::Type(Path(), folder);
            RefusedOk(kMissing);
            gui::Type(Path(), dir + "\\nothing here.exe");
            RefusedOk(kMissing);
            gui::Type(Path(), Upper(exe));
            RefusedOk(kWatched);
            EXPECT_EQ(form.edtApplicationPath->Text(), Upper(exe));  // kept as typed
            // Another path with the watched program's file name.
            gui::Type(Path(), folder + "\\..\\LONG PROGRAM NAME.EXE");
            RefusedOk(("You are already monitoring a process with this file name:\r\n" + exe +
                       "\r\nOnly one process of each file name can be monitored.").c_str());
            gui::Type(Path(), txt);  // only the browse filter asks for programs
            gui::Click(form.cbShutdownEvent->Handle());
            gui::Click(form.btnOk->Handle());
        });
        result = form.AddProcess(entry, &config);
    }
    EXPECT_TRUE(result);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->ApplicationPath, txt);
    EXPECT_TRUE(entry->RaiseStartupEvent);
    EXPECT_FALSE(entry->RaiseShutdownEvent);
    EXPECT_EQ(seams.BoxCount(), 5u);
}

TEST_F(ProcessEditTest, BrowsingShowsTheLongFormAndATypedShortPathStaysAsTyped) {
    char shortPath[MAX_PATH] = {};
    ASSERT_GT(GetShortPathNameA(exe.c_str(), shortPath, MAX_PATH), 0u);
    char longPath[MAX_PATH] = {};
    ASSERT_GT(GetLongPathNameA(exe.c_str(), longPath, MAX_PATH), 0u);
    ASSERT_NE(std::string(shortPath), std::string(longPath));
    config.Processes->Add(new TProcessConfig(longPath, true, true));

    std::vector<TOpenDialog> seen;
    std::atomic<bool> choose{true};
    TOpenDialog::OnExecute = [&](TOpenDialog& d) {
        seen.push_back(d);
        if (!choose)
            return false;
        d.FileName = shortPath;
        return true;
    };
    std::unique_ptr<TProcessConfig> entry;
    bool result = false;
    {
        gui::Driver driver([&] {
            ASSERT_TRUE(gui::WaitVisible(form.Handle()));
            gui::Click(form.btnSelectApplication->Handle());
            EXPECT_EQ(form.edtApplicationPath->Text(), longPath);
            RefusedOk(kWatched);
            choose = false;  // the administrator cancels the second time
            gui::Type(Path(), "typed");
            gui::Click(form.btnSelectApplication->Handle());
            EXPECT_EQ(form.edtApplicationPath->Text(), "typed");
            // The short and long forms of one file count as two paths.
            gui::Type(Path(), shortPath);
            gui::Click(form.btnOk->Handle());
        });
        result = form.AddProcess(entry, &config);
    }
    EXPECT_TRUE(result);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->ApplicationPath, shortPath);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].Title, "Select Application to Monitor");
    EXPECT_EQ(seen[0].Filter, "Applications (*.exe)|*.exe");
    EXPECT_EQ(seen[0].InitialDir, "%SystemRoot%");
    EXPECT_EQ(seen[0].Options, static_cast<DWORD>(OFN_FILEMUSTEXIST | OFN_ENABLESIZING));
    EXPECT_EQ(seen[0].FileName, "");         // the new entry's path
    EXPECT_EQ(seen[1].FileName, shortPath);  // the file chosen last
}

TEST_F(ProcessEditTest, EditingKeepsOrRefusesThePathAsTheDuplicateRuleSays) {
    auto* entry = new TProcessConfig(exe, true, true);
    config.Processes->Add(entry);
    {
        gui::Driver driver([&] {
            ASSERT_TRUE(gui::WaitVisible(form.Handle()));
            EXPECT_EQ(form.edtApplicationPath->Text(), exe);
            // The same path in other letters counts as changed and finds itself.
            gui::Type(Path(), Upper(exe));
            RefusedOk(kWatched);
            gui::Type(Path(), exe);
            gui::Click(form.cbStatupEvent->Handle());
            gui::PostKey(Path(), VK_RETURN);
        });
        EXPECT_TRUE(form.EditProcess(entry, &config));
    }
    EXPECT_EQ(entry->ApplicationPath, exe);
    EXPECT_FALSE(entry->RaiseStartupEvent);
    EXPECT_TRUE(entry->RaiseShutdownEvent);

    auto* gone = new TProcessConfig(dir + "\\Removed.exe", true, false);
    config.Processes->Add(gone);
    {
        gui::Driver driver([&] {
            ASSERT_TRUE(gui::WaitVisible(form.Handle()));
            EXPECT_FALSE(form.cbShutdownEvent->Checked());
            RefusedOk(kMissing);
            gui::Click(form.cbShutdownEvent->Handle());
            gui::PostCloseBox(form.Handle());
        });
        EXPECT_FALSE(form.EditProcess(gone, &config));
    }
    EXPECT_EQ(gone->ApplicationPath, dir + "\\Removed.exe");
    EXPECT_FALSE(gone->RaiseShutdownEvent);
}

TEST_F(ProcessEditTest, TheRealOpenFileDialogPicksAProgram) {
    std::unique_ptr<TProcessConfig> entry;
    bool result = false;
    {
        gui::Driver driver([&] {
            ASSERT_TRUE(gui::WaitVisible(form.Handle()));
            gui::PostClick(form.btnSelectApplication->Handle());
            HWND box = gui::WaitForWindow("Select Application to Monitor");
            ASSERT_NE(box, nullptr);
            EXPECT_FALSE(gui::SaveScreenshot(box, "configapp_select_application").empty());
            // The file name box of the platform's dialog (the only visible
            // edit in it), then its Open button.
            HWND name = nullptr;
            EnumChildWindows(
                box,
                [](HWND h, LPARAM p) -> BOOL {
                    char cls[32] = {};
                    GetClassNameA(h, cls, sizeof cls);
                    if (lstrcmpiA(cls, "Edit") == 0 && IsWindowVisible(h)) {
                        *reinterpret_cast<HWND*>(p) = h;
                        return FALSE;
                    }
                    return TRUE;
                },
                reinterpret_cast<LPARAM>(&name));
            ASSERT_NE(name, nullptr);
            SendMessageA(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(exe.c_str()));
            gui::PostClick(GetDlgItem(box, IDOK));
            ASSERT_TRUE(gui::WaitUntil([&] { return !IsWindow(box) || !IsWindowVisible(box); }));
            ASSERT_TRUE(gui::WaitUntil([&] { return !form.edtApplicationPath->Text().empty(); }));
            EXPECT_EQ(form.edtApplicationPath->Text(), exe);
            gui::Click(form.btnOk->Handle());
        });
        result = form.AddProcess(entry, &config);
    }
    EXPECT_TRUE(result);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->ApplicationPath, exe);
}

TEST_F(ProcessEditTest, HelpContextsLayoutAndScreenshot) {
    EXPECT_EQ(form.Caption(), "Monitored Process");
    EXPECT_EQ(form.ClientWidth(), 310);
    EXPECT_EQ(form.ClientHeight(), 196);
    auto* entry = new TProcessConfig(exe, true, false);
    config.Processes->Add(entry);
    {
        gui::Driver driver([&] {
            ASSERT_TRUE(gui::WaitVisible(form.Handle()));
            gui::PostKey(Path(), VK_F1);
            ASSERT_TRUE(gui::WaitUntil([&] { return seams.Help().size() == 1; }));
            for (TControl* c : std::vector<TControl*>{form.btnSelectApplication,
                                                      form.cbStatupEvent, form.cbShutdownEvent}) {
                HELPINFO info{sizeof(HELPINFO), HELPINFO_WINDOW, c->Id(), c->Handle(), 0, {0, 0}};
                SendMessageA(form.Handle(), WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
            }
            EXPECT_FALSE(gui::SaveScreenshot(form.Handle(), "configapp_process_edit").empty());
            gui::Click(form.btnCancel->Handle());
        });
        form.EditProcess(entry, &config);
    }
    std::vector<std::pair<unsigned, std::uintptr_t>> expected{
        {HELP_CONTEXT, 10200}, {HELP_CONTEXT, 10201}, {HELP_CONTEXT, 10203}, {HELP_CONTEXT, 10204}};
    EXPECT_EQ(seams.Help(), expected);
}

}  // namespace
