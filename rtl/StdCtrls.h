// The standard controls of a form: push buttons, check boxes, edits, memos,
// list boxes and combo boxes, each a child window that a form binds by its
// dialog control id or makes in code; and the form as they see it.
#pragma once

#include <windows.h>

#include <string>

#include "Classes.h"

// Modal results: what a button puts into its form's modal result.
constexpr int mrNone = 0;
constexpr int mrOk = 1;
constexpr int mrCancel = 2;
constexpr int mrAbort = 3;
constexpr int mrRetry = 4;
constexpr int mrIgnore = 5;
constexpr int mrYes = 6;
constexpr int mrNo = 7;

class TButton;
class TForm;

// The form its controls lie on, as they see it: its window, its modal result,
// the control to focus, its default button; TForm is the form. The controls
// reach it through this alone, so that they need nothing of the form's own
// code.
class TCustomForm : public TObject {
public:
    HWND Handle() const { return FHandle; }
    bool Visible() const;
    bool Modal() const { return FModal; }
    int ModalResult() const { return FModalResult; }
    // A non-zero value closes a modal form once the current message is handled.
    void SetModalResult(int value);

protected:
    friend class TControl;
    friend class TButton;
    static std::string WindowText(HWND hwnd);
    // Moves the focus off a control about to be disabled.
    void FocusAwayFrom(HWND control);
    // A push button of the form got or lost the focus: the default look follows it.
    void DefaultLookFollows(HWND focus);
    static LRESULT CALLBACK PushButtonProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam,
                                           UINT_PTR id, DWORD_PTR data);

    HWND FHandle = nullptr;
    HWND FActiveControl = nullptr;
    bool FModal = false;
    int FModalResult = mrNone;
    TButton* FDefaultButton = nullptr;
};

// One child window of a form, found by its dialog control id.
class TControl : public TObject {
public:
    TControl(TCustomForm* form, HWND handle);

    HWND Handle() const { return FHandle; }
    TCustomForm* Form() const { return FForm; }
    int Id() const;

    std::string Text() const;
    void SetText(const std::string& text);
    bool Enabled() const;
    void SetEnabled(bool value);
    bool Visible() const;
    void SetVisible(bool value);
    // Focuses the control; on a form not yet shown the control becomes the
    // one focused when the form appears.
    void SetFocus();
    bool Focused() const;
    // The help context travels with the window (a DIALOGEX template sets it
    // from the control's help id), so F1 and the title-bar help button find it.
    int HelpContext() const;
    void SetHelpContext(int context);

protected:
    friend class TForm;
    // A WM_COMMAND notification (BN_CLICKED, LBN_SELCHANGE, ...) of this control.
    virtual void Notify(WORD code);
    // A WM_NOTIFY of this control.
    virtual LRESULT NotifyEx(NMHDR* header);

private:
    TCustomForm* FForm;
    HWND FHandle;
};

// A push button. Pressing it (mouse, keyboard, Enter while it has the focus
// or as the default button, Escape as the cancel button) sets the form's
// modal result to the button's own value first and then runs OnClick.
class TButton : public TControl {
public:
    TButton(TCustomForm* form, HWND handle);
    int ModalResult = mrNone;
    TNotifyEvent OnClick;
    // Presses the button as a person would; a disabled or hidden button does nothing.
    void Click();

protected:
    void Notify(WORD code) override;
};

class TCheckBox : public TControl {
public:
    using TControl::TControl;
    bool Checked() const;
    // Changes the tick without running OnClick.
    void SetChecked(bool value);
    TNotifyEvent OnClick;

protected:
    void Notify(WORD code) override;
};

class TEdit : public TControl {
public:
    using TControl::TControl;
};

// A multi-line edit used as a log: lines are appended at the end, with no
// limit on the length of the text (AddMemo lifts the edit control's own).
class TMemo : public TControl {
public:
    using TControl::TControl;
    void AddLine(const std::string& line);
    int LineCount() const;
    std::string Line(int index) const;
};

// What list boxes and combo boxes share, each through its own messages.
class TListControl : public TControl {
public:
    int Count() const;
    std::string Item(int index) const;
    int Add(const std::string& s);
    void Clear();
    int ItemIndex() const;
    void SetItemIndex(int index);
    // Exact text search without regard to letter case; -1 when not found.
    int IndexOf(const std::string& s) const;
    void BeginUpdate();
    void EndUpdate();

    // Count, text length, text, add, reset, get and set the selection, find.
    struct TMessages {
        UINT Count, TextLength, Text, Add, Reset, GetSelection, SetSelection, FindExact;
    };

protected:
    TListControl(TCustomForm* form, HWND handle, const TMessages& messages)
        : TControl(form, handle), FMessages(messages) {}

private:
    const TMessages& FMessages;
};

// A single-selection list box. Its lines keep the box's own order (sorted when
// the box has LBS_SORT); searches are the box's exact-text search, which
// ignores letter case.
class TListBox : public TListControl {
public:
    TListBox(TCustomForm* form, HWND handle);
    // Replaces the text of a line in place: the line keeps its position even
    // in a sorted box.
    void SetItem(int index, const std::string& s);
    void Delete(int index);
    TNotifyEvent OnClick;     // the selection changed by the user
    TNotifyEvent OnDblClick;

protected:
    void Notify(WORD code) override;
};

// A drop-down list (choice only) or drop-down combo box.
class TComboBox : public TListControl {
public:
    TComboBox(TCustomForm* form, HWND handle);
    TNotifyEvent OnChange;  // the user chose another item

protected:
    void Notify(WORD code) override;
};
