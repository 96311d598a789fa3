#include "Application.h"

#include <stdexcept>
#include <utility>

#include "StdCtrls.h"
#include "SysUtils.h"

// ---- TApplication ----------------------------------------------------------------

TApplication& Application() {
    static TApplication app;
    return app;
}

std::vector<HWND>& ModalForms() {
    thread_local std::vector<HWND> forms;
    return forms;
}

std::string TApplication::DisplayTitle() const {
    if (!Title.empty())
        return Title;
    std::string name = ExtractFileName(ProgramPath());
    size_t dot = name.rfind('.');
    if (dot != std::string::npos)
        name.erase(dot);
    return name;
}

namespace {

constexpr UINT WM_ACTIVATE_LAST_POPUP = WM_APP + 0x3A1;

// The window the application window hands the activation to: the topmost
// visible and enabled window of this thread that it owns, directly or
// through the main form (a modal form over the main form, or the main form
// itself). GetLastActivePopup cannot tell: by the time the application
// window hands over, it is itself the last active one.
HWND TopOwnedWindow(HWND app) {
    for (HWND h = GetTopWindow(nullptr); h != nullptr; h = GetWindow(h, GW_HWNDNEXT))
        if (h != app && GetWindowThreadProcessId(h, nullptr) == GetCurrentThreadId() &&
            IsWindowVisible(h) && IsWindowEnabled(h) && GetAncestor(h, GA_ROOTOWNER) == app)
            return h;
    return nullptr;
}

LRESULT CALLBACK ApplicationWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_SETFOCUS:
        // Activated through its task-bar button or Alt+Tab: the form on top
        // takes over once this activation is over.
        PostMessageA(hwnd, WM_ACTIVATE_LAST_POPUP, 0, 0);
        return 0;
    case WM_ACTIVATE_LAST_POPUP:
        // The form's dialog manager puts the focus back on the control that
        // had it when the form lost the activation.
        if (GetActiveWindow() == hwnd && !IsIconic(hwnd))
            if (HWND top = TopOwnedWindow(hwnd))
                SetActiveWindow(top);
        return 0;
    case WM_SYSCOMMAND: {
        // The task-bar button and its menu. Served here because a modal form
        // disables this window, and DefWindowProc ignores a disabled
        // window's system commands.
        switch (wParam & 0xFFF0) {
        case SC_MINIMIZE:
            ShowWindow(hwnd, SW_MINIMIZE);
            return 0;
        case SC_RESTORE:
            ShowWindow(hwnd, SW_RESTORE);
            return 0;
        case SC_CLOSE:
            SendMessageA(hwnd, WM_CLOSE, 0, 0);
            return 0;
        case SC_MAXIMIZE:
            return 0;  // it has no maximise box: only its button is ever seen
        default:
            return DefWindowProcA(hwnd, msg, wParam, lParam);
        }
    }
    case WM_SIZE:
        // The forms go away with the minimised application window and come
        // back when it is restored, however that is asked for (the task-bar
        // button, its menu, "minimise all"); each form does the same for the
        // forms it owns. Restored while still active (it kept the activation
        // while minimised), it hands the activation over again.
        if (wParam == SIZE_MINIMIZED) {
            ShowOwnedPopups(hwnd, FALSE);
        } else if (wParam == SIZE_RESTORED) {
            ShowOwnedPopups(hwnd, TRUE);
            // Then the modal forms opened while it was minimised, outermost
            // first, since each needs its owner on screen.
            std::vector<HWND> waiting = ModalForms();
            for (HWND form : waiting)
                SendMessageA(form, WM_SHOW_WAITING, 0, 0);
            if (GetActiveWindow() == hwnd)
                PostMessageA(hwnd, WM_ACTIVATE_LAST_POPUP, 0, 0);
        }
        return 0;
    case WM_CLOSE: {
        // Close on the task-bar button: the main form's close box, on
        // screen, so that whatever its close query asks is seen; with a
        // modal form open that one is the form to answer first.
        HWND main = Application().MainFormHandle;
        if (main == nullptr)
            return 0;
        if (IsIconic(hwnd))
            ShowWindow(hwnd, SW_RESTORE);
        if (IsWindowEnabled(main))
            PostMessageA(main, WM_SYSCOMMAND, SC_CLOSE, 0);
        else if (HWND top = TopOwnedWindow(hwnd))
            SetActiveWindow(top);
        return 0;
    }
    default:
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    }
}

}  // namespace

HWND TApplication::Handle() {
    static HWND window = [this] {
        HINSTANCE instance = GetModuleHandleA(nullptr);
        WNDCLASSA wc{};
        wc.lpfnWndProc = ApplicationWindowProc;
        wc.hInstance = instance;
        wc.hIcon = LoadIconA(instance, "MAINICON");
        if (wc.hIcon == nullptr)
            wc.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
        wc.lpszClassName = "TApplicationWindow";
        RegisterClassA(&wc);
        // No size, in the middle of the screen: only its button is seen.
        HWND h = CreateWindowExA(0, wc.lpszClassName, DisplayTitle().c_str(),
                                 WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU |
                                     WS_MINIMIZEBOX,
                                 GetSystemMetrics(SM_CXSCREEN) / 2,
                                 GetSystemMetrics(SM_CYSCREEN) / 2, 0, 0, nullptr, nullptr,
                                 instance, nullptr);
        if (h == nullptr)
            RaiseLastOSError();
        return h;
    }();
    return window;
}

HWND TApplication::ModalOwner() const {
    const std::vector<HWND>& modal = ModalForms();
    if (!modal.empty())
        return modal.back();
    if (MainFormHandle != nullptr && IsWindow(MainFormHandle))
        return MainFormHandle;
    return GetActiveWindow();
}

bool TApplication::HelpContext(int context) { return HelpCommand(HELP_CONTEXT, context); }

bool TApplication::HelpCommand(unsigned command, std::uintptr_t data) {
    if (OnHelp)
        return OnHelp(command, data);
    return HtmlHelpCommand(HelpFile, command, data);
}

int TApplication::ShowMessageBox(const TMessageBoxRequest& request,
                                 int (*showForm)(const TMessageBoxRequest&)) {
    if (OnMessageBox)
        return OnMessageBox(request);
    if (request.ExceptionBox || showForm == nullptr) {
        MessageBoxA(ModalOwner(), request.Text.c_str(), request.Caption.c_str(),
                    MB_OK | MB_ICONERROR);
        return mrOk;
    }
    return showForm(request);
}

void TApplication::ShowExceptionBox(const std::string& caption, std::string text) {
    TMessageBoxRequest r;
    r.Caption = caption;
    r.Text = std::move(text);
    if (!r.Text.empty() && static_cast<unsigned char>(r.Text.back()) > '.')
        r.Text += '.';
    r.Type = TMsgDlgType::mtError;
    r.Buttons = mbOK;
    r.ExceptionBox = true;
    ShowMessageBox(r);
}

void TApplication::ShowException(const std::exception& e) {
    ShowExceptionBox(DisplayTitle(), e.what());
}

void TApplication::HandleException() {
    // Called at the edge of a window procedure: nothing may escape from here.
    try {
        try {
            throw;
        } catch (const std::exception& e) {
            ShowException(e);
        } catch (...) {
            ShowException(std::runtime_error("Unknown exception"));
        }
    } catch (...) {
    }
}

// ---- HTML help ----------------------------------------------------------------------

bool HtmlHelpCommand(const std::string& helpFile, unsigned command, std::uintptr_t data) {
    using HtmlHelpFn = HWND(WINAPI*)(HWND, LPCSTR, UINT, DWORD_PTR);
    static HtmlHelpFn htmlHelp = [] {
        HMODULE module = LoadLibraryA("hhctrl.ocx");
        return module != nullptr
                   ? reinterpret_cast<HtmlHelpFn>(
                         reinterpret_cast<void*>(GetProcAddress(module, "HtmlHelpA")))
                   : nullptr;
    }();
    if (htmlHelp == nullptr || helpFile.empty())
        return false;
    constexpr UINT HH_DISPLAY_TOC = 0x0001;
    constexpr UINT HH_HELP_CONTEXT = 0x000F;
    constexpr UINT HH_CLOSE_ALL = 0x0012;
    HWND caller = GetActiveWindow();
    switch (command) {
    case HELP_CONTEXT:
    case HELP_CONTEXTPOPUP:
        return htmlHelp(caller, helpFile.c_str(), HH_HELP_CONTEXT, data) != nullptr;
    case HELP_FINDER:
    case HELP_CONTENTS:
        return htmlHelp(caller, helpFile.c_str(), HH_DISPLAY_TOC, 0) != nullptr;
    case HELP_QUIT:
        htmlHelp(nullptr, nullptr, HH_CLOSE_ALL, 0);
        return true;
    default:
        return false;
    }
}
