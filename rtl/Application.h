// The application object: its title, help routing, the application window
// that carries the task-bar button, the default exception box, and the
// message-box seam through which every box of the program passes.
#pragma once

#include <windows.h>

#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <vector>

// What a message box asks. Every message box of the program passes through
// one function that a test can replace, so that no test blocks on a box.
enum class TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation };

enum TMsgDlgBtn : unsigned { mbYes = 1, mbNo = 2, mbOK = 4, mbCancel = 8 };
using TMsgDlgButtons = unsigned;

struct TMessageBoxRequest {
    std::string Caption;
    std::string Text;
    TMsgDlgType Type = TMsgDlgType::mtInformation;
    TMsgDlgButtons Buttons = mbOK;
    int HelpContext = 0;
    bool ExceptionBox = false;  // the default exception box of the application
};

// Answers a message box with the modal result of the button chosen.
using TMessageBoxHook = std::function<int(const TMessageBoxRequest&)>;

// The help system: a WinHelp-style command (HELP_CONTEXT, HELP_FINDER, ...)
// and its data; returns true when the request was served.
using THelpHandler = std::function<bool(unsigned command, std::uintptr_t data)>;

class TApplication {
public:
    // Shown on the default exception box; the program's file name when empty.
    std::string Title;
    // The compiled HTML help file that the default help handler opens.
    std::string HelpFile;
    // Replaces the help system (tests record the contexts asked for).
    THelpHandler OnHelp;
    // Replaces every message box (tests answer them).
    TMessageBoxHook OnMessageBox;

    std::string DisplayTitle() const;
    // The application window, made on first use: shown (with no size) while
    // RunMainForm runs, it owns the main form and so carries the title on the
    // task-bar button and in Alt+Tab, while the form keeps its own caption.
    // Activated from there, it hands the activation to the form last active;
    // closed from there, it closes the main form as its close box does.
    HWND Handle();
    // The form RunMainForm runs, while it runs.
    HWND MainFormHandle = nullptr;
    // The owner of a message box or modal form shown now on this thread
    // without one of its own: the form whose modal loop runs innermost, else
    // the form RunMainForm runs, else the active window. The form that shows
    // a box is always one of the first two: while a modal form is up, nothing
    // else of the program takes input. The active window would not do, as it
    // is null while another program is in front or this one is minimised.
    HWND ModalOwner() const;
    bool HelpContext(int context);
    bool HelpCommand(unsigned command, std::uintptr_t data);
    // Shows a message box through OnMessageBox or on screen; returns the
    // modal result of the button chosen. On screen, the default exception box
    // is the system's message box; any other box is the form that showForm
    // puts up (the dialogs' message form: that unit builds on this one), or,
    // without one, the system's message box too.
    int ShowMessageBox(const TMessageBoxRequest& request,
                       int (*showForm)(const TMessageBoxRequest&) = nullptr);
    // The default exception box: the caption, the text with a full stop added
    // when its last character sorts after the full stop, error icon, OK.
    void ShowExceptionBox(const std::string& caption, std::string text);
    // The default handler of an exception that escaped an event handler: the
    // default exception box, captioned with the title, for its message.
    void ShowException(const std::exception& e);
    void HandleException();  // for the exception being handled (catch block)
};

TApplication& Application();

// The windows of the forms in a modal loop on this thread, innermost last;
// each form keeps its own there while its loop runs.
std::vector<HWND>& ModalForms();

// The application window to a form waiting for the restored program.
constexpr UINT WM_SHOW_WAITING = WM_APP + 0x3A2;

// Serves HELP_CONTEXT, HELP_CONTEXTPOPUP and HELP_FINDER from a compiled HTML
// help file through HtmlHelpA, loaded from hhctrl.ocx on first use.
bool HtmlHelpCommand(const std::string& helpFile, unsigned command, std::uintptr_t data);
