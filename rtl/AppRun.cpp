#include "AppRun.h"

#include <cxxabi.h>

#include <cstdlib>
#include <typeinfo>

#include "ScopeExit.h"
#include "SysUtils.h"

int RunMainForm(TForm& form) {
    HWND hwnd = form.Handle();
    // The application window owns the form: the task-bar button is its own
    // and shows the application title, the form keeps its caption.
    HWND app = Application().Handle();
    SetWindowTextA(app, Application().DisplayTitle().c_str());
    SetWindowLongPtrA(hwnd, GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(app));
    Application().MainFormHandle = hwnd;
    TScopeExit unhook([app] {
        Application().MainFormHandle = nullptr;
        ShowWindow(app, SW_HIDE);
    });

    ShowWindow(app, SW_SHOWNA);
    ShowWindow(hwnd, SW_SHOWNORMAL);
    SetForegroundWindow(hwnd);
    // The form is on screen now, so focusing a control in OnShow takes effect
    // at once instead of being kept for a modal loop that never runs.
    try {
        if (form.OnShow)
            form.OnShow(&form);
    } catch (...) {
        Application().HandleException();
    }
    // The loop runs until the form's close posts WM_QUIT. The form is also
    // hidden, without being closed, while the application window is
    // minimised, so its visibility says nothing about the program's end.
    MSG msg;
    while (IsWindow(hwnd)) {
        BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0)
            return static_cast<int>(msg.wParam);
        if (got == -1)
            return 1;
        form.ProcessMessage(msg);
    }
    return 0;
}

int ShowStartupException(const std::exception& e) {
    int status = 0;
    char* demangled = abi::__cxa_demangle(typeid(e).name(), nullptr, nullptr, &status);
    std::string cls = status == 0 && demangled != nullptr ? demangled : typeid(e).name();
    std::free(demangled);
    std::string module = ExtractFileName(ProgramPath());
    Application().ShowExceptionBox(
        "Application Error", "Exception " + cls + " in module " + module + ".\r\n" + e.what());
    return 1;
}
