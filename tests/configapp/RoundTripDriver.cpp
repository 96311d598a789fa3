// Drives the real configuration program, TWCfgApp.exe, from outside its
// process as an administrator would: tabs and buttons are clicked, text is
// typed, the program's own dialogs and message boxes are answered. The
// round-trip script (gui_roundtrip.py) runs these cases one at a time around
// the running monitoring service and checks at a mail server what the service
// then does with the configuration made here.
//
// The values come from the environment (Wine passes it on):
//   TW_RT_FROM, TW_RT_RELAY, TW_RT_RCPT  sender, relay host, a recipient
//   TW_RT_PROGRAM                         full path of a program to watch
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "configapp/fTarnwickConfig.h"
#include "tests/support/GuiDriver.h"

namespace {

std::string Env(const char* name) {
    char value[1024] = {};
    DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

std::string BinDir() {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path);
    return dir.substr(0, dir.find_last_of('\\') + 1) + "..\\bin\\";
}

// Visible top-level windows of one process.
std::vector<HWND> WindowsOf(DWORD pid) {
    struct Search {
        DWORD pid;
        std::vector<HWND> found;
    } s{pid, {}};
    EnumWindows(
        [](HWND h, LPARAM p) -> BOOL {
            auto* s = reinterpret_cast<Search*>(p);
            DWORD owner = 0;
            GetWindowThreadProcessId(h, &owner);
            if (owner == s->pid && IsWindowVisible(h))
                s->found.push_back(h);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&s));
    return s.found;
}

std::string Caption(HWND h) {
    char text[256] = {};
    GetWindowTextA(h, text, sizeof text);
    return text;
}

// The texts of a window's static children (what a message box says).
std::string StaticTexts(HWND form) {
    std::string all;
    for (HWND c = GetWindow(form, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
        char cls[32] = {};
        GetClassNameA(c, cls, sizeof cls);
        if (lstrcmpiA(cls, "Static") == 0)
            all += gui::Text(c);
    }
    return all;
}

// The configuration program, started for one case and always gone after it.
class ConfigProgram {
public:
    ConfigProgram() {
        std::string cmd = "\"" + BinDir() + "TWCfgApp.exe\"";
        STARTUPINFOA si{};
        si.cb = sizeof si;
        if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                            &FInfo))
            return;
        // Its windows are reached by messages; the process memory is needed
        // for the common controls' requests that carry a pointer.
        FProcess = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE,
                               FALSE, FInfo.dwProcessId);
        gui::WaitUntil([&] {
            Main = gui::FindVisible("Tarnwick Lite", FInfo.dwProcessId);
            return Main != nullptr;
        }, 30000);
    }
    ~ConfigProgram() {
        if (FInfo.hProcess == nullptr)
            return;
        if (WaitForSingleObject(FInfo.hProcess, 0) == WAIT_TIMEOUT)
            TerminateProcess(FInfo.hProcess, 99);
        if (FProcess != nullptr)
            CloseHandle(FProcess);
        CloseHandle(FInfo.hThread);
        CloseHandle(FInfo.hProcess);
    }

    HWND WaitFor(const char* caption) const {
        return gui::WaitForWindow(caption, FInfo.dwProcessId);
    }
    HWND Item(int id) const { return GetDlgItem(Main, id); }

    // The program's end and its exit code; while waiting, any window other
    // than the main one (a message box) is noted and closed.
    bool Ended(DWORD* code, std::vector<std::string>& others) const {
        for (int i = 0; i < 3000; ++i) {
            for (HWND h : WindowsOf(FInfo.dwProcessId))
                if (h != Main && h != GetWindow(Main, GW_OWNER)) {  // not the task-bar window
                    others.push_back(Caption(h) + ": " + StaticTexts(h));
                    PostMessageA(h, WM_CLOSE, 0, 0);
                }
            if (WaitForSingleObject(FInfo.hProcess, 10) == WAIT_OBJECT_0) {
                GetExitCodeProcess(FInfo.hProcess, code);
                return true;
            }
        }
        return false;
    }

    // A click on a page's tab, where the mouse would click it.
    void ShowPage(int page) const {
        HWND tabs = Item(IDC_MAIN_PAGES);
        RECT r{};
        ASSERT_NE(Remote(tabs, TCM_GETITEMRECT, page, r), 0);
        LPARAM pt = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
        gui::PointerTo(tabs, pt);
        SendMessageA(tabs, WM_LBUTTONDOWN, MK_LBUTTON, pt);
        SendMessageA(tabs, WM_LBUTTONUP, 0, pt);
        ASSERT_EQ(SendMessageA(tabs, TCM_GETCURSEL, 0, 0), page);
    }

    std::string Cell(HWND list, int row, int column) const {
        struct Block {
            LVITEMA item;
            char text[260];
        } block{};
        block.item.iSubItem = column;
        block.item.cchTextMax = sizeof block.text;
        // The text buffer is the one in the program's copy of the block.
        Remote(list, LVM_GETITEMTEXTA, row, block,
               +[](Block& local, Block* remote) { local.item.pszText = remote->text; });
        block.text[sizeof block.text - 1] = 0;
        return block.text;
    }

    // Adds a recipient through the recipients dialog and its address dialog.
    void AddRecipient(const std::string& address) const {
        gui::PostClick(Item(IDC_EMAIL_ADDRESSES));
        HWND list = WaitFor("Email Addresses");
        ASSERT_NE(list, nullptr);
        gui::PostClick(GetDlgItem(list, 102));  // Add
        HWND edit = WaitFor("Email Address");
        ASSERT_NE(edit, nullptr);
        gui::Type(GetDlgItem(edit, 100), address);
        gui::Click(GetDlgItem(edit, IDOK));
        ASSERT_TRUE(gui::WaitHidden(edit));
        gui::Click(GetDlgItem(list, IDOK));
        ASSERT_TRUE(gui::WaitHidden(list));
    }

    void Tick(int id, HWND form = nullptr) const {
        HWND box = GetDlgItem(form != nullptr ? form : Main, id);
        if (!gui::Checked(box))
            gui::Click(box);
        EXPECT_TRUE(gui::Checked(box)) << "box " << id;
    }

    HWND Main = nullptr;

private:
    // Sends a message whose lParam points at a record. The common controls'
    // messages are not carried across processes, so the record is copied into
    // the program's memory, and back once the message returns; prepare may
    // point fields of the record into that copy. Answers the message's result.
    template <class T>
    LRESULT Remote(HWND target, UINT msg, WPARAM w, T& data,
                   void (*prepare)(T&, T*) = nullptr) const {
        auto* remote = static_cast<T*>(
            VirtualAllocEx(FProcess, nullptr, sizeof(T), MEM_COMMIT, PAGE_READWRITE));
        if (remote == nullptr)
            return 0;
        if (prepare != nullptr)
            prepare(data, remote);
        WriteProcessMemory(FProcess, remote, &data, sizeof(T), nullptr);
        LRESULT result = SendMessageA(target, msg, w, reinterpret_cast<LPARAM>(remote));
        ReadProcessMemory(FProcess, remote, &data, sizeof(T), nullptr);
        VirtualFreeEx(FProcess, remote, 0, MEM_RELEASE);
        return result;
    }

    PROCESS_INFORMATION FInfo{};
    HANDLE FProcess = nullptr;
};

DWORD ServiceState() {
    SC_HANDLE scm = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE svc = scm ? OpenServiceA(scm, "Tarnwick", SERVICE_QUERY_STATUS) : nullptr;
    SERVICE_STATUS status{};
    bool ok = svc != nullptr && QueryServiceStatus(svc, &status);
    if (svc)
        CloseServiceHandle(svc);
    if (scm)
        CloseServiceHandle(scm);
    return ok ? status.dwCurrentState : 0;
}

std::string FileNamePart(const std::string& path) {
    return path.substr(path.find_last_of('\\') + 1);
}

// No configuration stored and the service installed but stopped: the whole
// configuration is made in the program; OK asks to start the service, Yes
// starts it and the program ends.
TEST(RoundTrip, MakeTheConfigurationAndStartTheService) {
    const std::string from = Env("TW_RT_FROM"), relay = Env("TW_RT_RELAY"),
                      rcpt = Env("TW_RT_RCPT"), program = Env("TW_RT_PROGRAM");
    ASSERT_FALSE(from.empty() || relay.empty() || rcpt.empty() || program.empty());
    ASSERT_EQ(ServiceState(), static_cast<DWORD>(SERVICE_STOPPED));

    ConfigProgram app;
    ASSERT_NE(app.Main, nullptr) << "TWCfgApp.exe showed no main window";

    // General page: the relay host instead of direct delivery, the sender,
    // the monitor's own start and stop mails, one recipient.
    EXPECT_TRUE(gui::Checked(app.Item(IDC_INTERNAL_MX)));
    EXPECT_FALSE(IsWindowEnabled(app.Item(IDC_PRIMARY_SMTP)));
    gui::Click(app.Item(IDC_USE_SMTP));
    EXPECT_FALSE(gui::Checked(app.Item(IDC_INTERNAL_MX)));
    ASSERT_TRUE(IsWindowEnabled(app.Item(IDC_PRIMARY_SMTP)));
    gui::Type(app.Item(IDC_PRIMARY_SMTP), relay);
    gui::Type(app.Item(IDC_FROM_EMAIL), from);
    app.Tick(IDC_GEN_STARTUP);
    app.Tick(IDC_GEN_SHUTDOWN);
    app.AddRecipient(rcpt);

    // Programs page: the program, with mail on its start and on its end.
    app.ShowPage(TfrmKorrinConfigMain::PageProcesses);
    gui::PostClick(app.Item(IDC_PROCESS_ADD));
    HWND dlg = app.WaitFor("Monitored Process");
    ASSERT_NE(dlg, nullptr);
    gui::Type(GetDlgItem(dlg, 101), program);
    app.Tick(103, dlg);
    app.Tick(104, dlg);
    gui::Click(GetDlgItem(dlg, IDOK));
    ASSERT_TRUE(gui::WaitHidden(dlg));
    HWND list = app.Item(IDC_PROCESSES);
    ASSERT_EQ(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0), 1);
    EXPECT_EQ(app.Cell(list, 0, 0), FileNamePart(program));
    EXPECT_EQ(app.Cell(list, 0, 1), "Yes");
    EXPECT_EQ(app.Cell(list, 0, 2), "Yes");

    // OK: saved, then the question about the stopped service.
    gui::PostClick(app.Item(IDOK));
    HWND question = app.WaitFor("Confirm");
    ASSERT_NE(question, nullptr);
    EXPECT_EQ(StaticTexts(question),
              "The Tarnwick service is currently stopped. Would you like \r\nto start it now?");
    gui::PostClick(GetDlgItem(question, IDYES));
    ASSERT_TRUE(gui::WaitHidden(question));
    DWORD code = 99;
    std::vector<std::string> boxes;
    ASSERT_TRUE(app.Ended(&code, boxes));
    EXPECT_EQ(code, 0u);
    EXPECT_TRUE(boxes.empty()) << boxes.front();
    // The start was requested; the program did not wait for it.
    DWORD state = ServiceState();
    EXPECT_TRUE(state == SERVICE_START_PENDING || state == SERVICE_RUNNING) << state;
}

// The service runs: the program shows what was saved before; a second
// recipient is added, and OK sets the monitor's control event without a word.
TEST(RoundTrip, AddARecipientWhileTheServiceRuns) {
    const std::string from = Env("TW_RT_FROM"), relay = Env("TW_RT_RELAY"),
                      rcpt = Env("TW_RT_RCPT"), program = Env("TW_RT_PROGRAM");
    ASSERT_FALSE(from.empty() || relay.empty() || rcpt.empty() || program.empty());
    ASSERT_EQ(ServiceState(), static_cast<DWORD>(SERVICE_RUNNING));

    ConfigProgram app;
    ASSERT_NE(app.Main, nullptr) << "TWCfgApp.exe showed no main window";
    EXPECT_EQ(gui::Text(app.Item(IDC_FROM_EMAIL)), from);
    EXPECT_TRUE(gui::Checked(app.Item(IDC_USE_SMTP)));
    EXPECT_EQ(gui::Text(app.Item(IDC_PRIMARY_SMTP)), relay);
    app.ShowPage(TfrmKorrinConfigMain::PageProcesses);
    EXPECT_EQ(app.Cell(app.Item(IDC_PROCESSES), 0, 0), FileNamePart(program));
    app.ShowPage(TfrmKorrinConfigMain::PageGeneral);

    app.AddRecipient(rcpt);
    gui::PostClick(app.Item(IDOK));
    DWORD code = 99;
    std::vector<std::string> boxes;
    ASSERT_TRUE(app.Ended(&code, boxes));
    EXPECT_EQ(code, 0u);
    EXPECT_TRUE(boxes.empty()) << boxes.front();
}

}  // namespace
