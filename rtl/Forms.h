// A small form layer over Win32 dialogs: modal forms made from DIALOGEX
// templates or built in code. Their controls (StdCtrls, ComCtrls) and the
// application object with the message-box seam (Application) are units of
// their own, which this header brings along for the forms' users.
//
// A form's window exists from its construction until it is destroyed, hidden
// while it is not shown, so that its controls can be filled before ShowModal
// and read after it. ShowModal runs its own message loop: the window closes
// when the modal result is not mrNone after a message was handled and the
// close query agrees; a refused close resets the modal result to mrNone.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Application.h"
#include "Classes.h"
#include "ComCtrls.h"
#include "StdCtrls.h"

// A form or control was used in a way the layer does not allow.
class EInvalidOperation : public Exception {
public:
    using Exception::Exception;
};

using TCloseQueryEvent = std::function<void(TObject* sender, bool& canClose)>;

// The base of every dialog. A form is made either from a DIALOGEX template in
// a module's resources or in code, empty, to be filled with AddControl.
class TForm : public TCustomForm {
public:
    // From a template (its style must not hold WS_VISIBLE). Owner may be null:
    // the form is then owned by the form that shows it (ModalOwner).
    TForm(HWND owner, const char* templateName, HINSTANCE instance = nullptr);
    TForm(HWND owner, int templateId, HINSTANCE instance = nullptr);
    // Built in code: an empty dialog with the given caption, style, extended
    // style and client size in pixels.
    TForm(HWND owner, const std::string& caption, DWORD style, DWORD exStyle, int clientWidth,
          int clientHeight);
    ~TForm() override;
    TForm(const TForm&) = delete;
    TForm& operator=(const TForm&) = delete;

    std::string Caption() const;
    void SetCaption(const std::string& caption);
    // Client area size in pixels.
    void SetClientSize(int width, int height);
    int ClientWidth() const;
    int ClientHeight() const;

    // Shows the form modally and returns the modal result it closed with.
    // Opened while the program is minimised, the form stays hidden until the
    // program is restored, and then comes up with the activation.
    int ShowModal();
    // What the close box, Alt+F4 and the system menu do: a modal form ends
    // with mrCancel, any other is hidden (subject to the close query); the
    // form RunMainForm runs also ends that loop.
    void Close();

    // The focused control, or the one to focus when the form appears.
    TControl* ActiveControl() const;

    TNotifyEvent OnShow;
    TCloseQueryEvent OnCloseQuery;

    // The form's default button (Enter) and cancel button (Escape). Enter
    // presses the focused push button instead, whichever way it got the
    // focus, and the default look goes with the focus to it; when the focus
    // goes anywhere else, the default button has the look again.
    void SetDefaultButton(TButton* button);
    void SetCancelButton(TButton* button);

    // The control of this form with that window, or null.
    TControl* FindControl(HWND handle) const;

    // Alt+letter (WM_SYSCHAR) for a window of this form, offered to its page
    // controls before the dialog manager sees it: the page tabs' accelerators
    // come before those of the controls on the pages. True when taken.
    bool DialogChar(const MSG& msg);

    // F1 for a window of this form, served from the key itself so that it
    // reaches the help system the same way on every platform. The system's
    // own F1 message that follows (WM_KEYF1, which becomes WM_HELP) is
    // dropped: WM_HELP carries the pointer's position, by which a control
    // without a help context would get the topic of whatever control lies
    // under the pointer. True when the message was one of the two.
    bool HelpKey(const MSG& msg);

    // One message taken from the queue by a loop that runs this form (its
    // modal loop, RunMainForm's): F1 and the page tabs' Alt+letter first,
    // then the dialog manager's keys; anything else is translated and
    // dispatched.
    void ProcessMessage(MSG& msg);

    // Routes a help request for a window of this form: the window's help
    // context, or that of its nearest parent with one, goes to the
    // application's help system. False when no context was found.
    bool ShowHelpFor(HWND window);

protected:
    // Makes the control object for the template's control with that id;
    // raises EInvalidOperation when the template has none.
    template <class T>
    T* Bind(int id) {
        return Keep(std::make_unique<T>(this, ControlHandle(id)));
    }
    // Creates a child control in code (pixel coordinates) with the form's font.
    template <class T>
    T* AddControl(const char* windowClass, const std::string& text, int id, DWORD style,
                  DWORD exStyle, int x, int y, int width, int height) {
        return Keep(std::make_unique<T>(
            this, CreateChild(windowClass, text, id, style, exStyle, x, y, width, height)));
    }

    // The common controls, made in code at pixel positions; labels, group
    // boxes and bevels have no id of their own.
    TButton* AddButton(const std::string& caption, int id, int modalResult, int x, int y,
                       int width = 75, int height = 25, DWORD extraStyle = 0);
    TCheckBox* AddCheckBox(const std::string& caption, int id, int x, int y, int width,
                           int height = 17);
    TEdit* AddEdit(int id, int x, int y, int width, int height = 21);
    TMemo* AddMemo(int id, int x, int y, int width, int height, DWORD extraStyle = 0);
    TControl* AddLabel(const std::string& caption, int x, int y, int width, int height = 13,
                       DWORD extraStyle = 0);
    TControl* AddGroupBox(const std::string& caption, int x, int y, int width, int height);
    TControl* AddBevel(int x, int y, int width);
    TListBox* AddListBox(int id, int x, int y, int width, int height, DWORD extraStyle = 0);
    // A drop-down list (choice only); extraStyle adds CBS_SORT and the like.
    TComboBox* AddDropDownList(int id, int x, int y, int width, int dropHeight,
                               DWORD extraStyle = 0);
    // Made last, so that it lies below the controls of its pages.
    TPageControl* AddPageControl(int id, int x, int y, int width, int height);

    // Messages of the form's own (WM_USER + n and the like): return true when
    // handled, with the result in result.
    virtual bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);

private:
    template <class T>
    T* Keep(std::unique_ptr<T> control) {
        T* raw = control.get();
        FControls.push_back(std::move(control));
        return raw;
    }
    void CreateFromTemplate(HWND owner, const char* name, HINSTANCE instance);
    HWND ControlHandle(int id) const;
    HWND CreateChild(const char* windowClass, const std::string& text, int id, DWORD style,
                     DWORD exStyle, int x, int y, int width, int height);
    void CloseModal();
    void PlaceOnScreen();
    void FocusFirst();
    void Appear();
    INT_PTR DialogMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

    bool FExplicitOwner = false;
    bool FPlaced = false;
    bool FWaitsForProgram = false;  // modal, hidden until the program is restored
    TButton* FCancelButton = nullptr;
    std::vector<std::unique_ptr<TControl>> FControls;
};
