#include "StdCtrls.h"

#include <commctrl.h>

#include <algorithm>

#include "SysUtils.h"

namespace {

// One line of a list box or of a combo box's list, in the ANSI code page;
// false for an index out of range (LB_ERR and CB_ERR are both -1). Asked
// for as wide text and converted here, as Windows converts for an ANSI
// LB_GETTEXT: Wine converts that through a fixed 512-character buffer and
// faults on a longer line.
bool LineText(HWND hwnd, UINT lengthMessage, UINT textMessage, int index, std::string& text) {
    LRESULT len = SendMessageW(hwnd, lengthMessage, index, 0);
    if (len < 0)
        return false;
    std::wstring wide(static_cast<size_t>(len) + 1, L'\0');
    len = SendMessageW(hwnd, textMessage, index, reinterpret_cast<LPARAM>(&wide[0]));
    if (len < 0)
        return false;
    text = AnsiFromWide(wide.data(),
                        static_cast<int>(std::min<size_t>(static_cast<size_t>(len), wide.size() - 1)));
    return true;
}

// Push buttons answer WM_GETDLGCODE with one of these two; check boxes,
// radio buttons and group boxes with neither.
bool IsPushButton(HWND hwnd) {
    return (SendMessageA(hwnd, WM_GETDLGCODE, 0, 0) &
            (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON)) != 0;
}

}  // namespace

// ---- TCustomForm, TControl ----------------------------------------------------------

bool TCustomForm::Visible() const { return IsWindowVisible(FHandle) != FALSE; }

std::string TCustomForm::WindowText(HWND hwnd) {
    int len = GetWindowTextLengthA(hwnd);
    std::string s(static_cast<size_t>(len) + 1, '\0');
    len = GetWindowTextA(hwnd, &s[0], len + 1);
    s.resize(len > 0 ? static_cast<size_t>(len) : 0);
    return s;
}

LRESULT CALLBACK TCustomForm::PushButtonProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam,
                                             UINT_PTR id, DWORD_PTR data) {
    if (msg == WM_NCDESTROY)
        RemoveWindowSubclass(hwnd, PushButtonProc, id);
    LRESULT result = DefSubclassProc(hwnd, msg, wParam, lParam);
    // The form's window holds no form while the form is being destroyed.
    auto* form = GetWindowLongPtrA(GetParent(hwnd), DWLP_USER) != 0
                     ? reinterpret_cast<TCustomForm*>(data)
                     : nullptr;
    if (msg == WM_SETFOCUS && form != nullptr)
        form->DefaultLookFollows(hwnd);
    else if (msg == WM_KILLFOCUS && form != nullptr)
        form->DefaultLookFollows(reinterpret_cast<HWND>(wParam));
    return result;
}

void TCustomForm::SetModalResult(int value) {
    FModalResult = value;
    // The loop looks at the result after each message it takes from the
    // queue; a press delivered by a sent message (BM_CLICK from another
    // thread) never surfaces there, so the loop is woken explicitly.
    if (FModal && value != mrNone)
        PostMessageA(FHandle, WM_NULL, 0, 0);
}

// The dialog manager moves the default look (BS_DEFPUSHBUTTON) only where it
// moves the focus itself (Tab, WM_NEXTDLGCTL). A push button focused any
// other way (a click, its mnemonic, which the dialog manager answers with a
// click, the focus given back when the form is activated again) kept the
// plain look, and as Enter presses the focused control only when it has the
// default look, Enter pressed the default button instead. So the look
// follows the focus: to the focused push button of this form, else to the
// default button.
void TCustomForm::DefaultLookFollows(HWND focus) {
    HWND target = nullptr;
    if (focus != nullptr && IsChild(FHandle, focus) && IsPushButton(focus))
        target = focus;
    else if (FDefaultButton != nullptr)
        target = FDefaultButton->Handle();
    for (HWND h = GetWindow(FHandle, GW_CHILD); h != nullptr; h = GetWindow(h, GW_HWNDNEXT))
        if (h != target && (SendMessageA(h, WM_GETDLGCODE, 0, 0) & DLGC_DEFPUSHBUTTON))
            SendMessageA(h, BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
    if (target != nullptr && (SendMessageA(target, WM_GETDLGCODE, 0, 0) & DLGC_UNDEFPUSHBUTTON))
        SendMessageA(target, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
}

// Before the focused control is disabled: the focus goes to the nearest
// control before it that is not a push button (the list a button acts on
// comes before the button), else to the next one. A focused push button
// would become the default one, and Enter would press it.
void TCustomForm::FocusAwayFrom(HWND control) {
    HWND target = nullptr;
    HWND first = GetNextDlgTabItem(FHandle, control, TRUE);
    for (HWND h = first; h != nullptr && h != control;) {
        if (!IsPushButton(h)) {
            target = h;
            break;
        }
        h = GetNextDlgTabItem(FHandle, h, TRUE);
        if (h == first)
            break;
    }
    if (target == nullptr)
        target = GetNextDlgTabItem(FHandle, control, FALSE);
    if (target != nullptr && target != control)
        SendMessageA(FHandle, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(target), TRUE);
}

TControl::TControl(TCustomForm* form, HWND handle) : FForm(form), FHandle(handle) {}

int TControl::Id() const { return GetDlgCtrlID(FHandle); }

std::string TControl::Text() const { return TCustomForm::WindowText(FHandle); }

void TControl::SetText(const std::string& text) { SetWindowTextA(FHandle, text.c_str()); }

bool TControl::Enabled() const { return IsWindowEnabled(FHandle) != FALSE; }

void TControl::SetEnabled(bool value) {
    // The focus on a control being disabled is dropped, on Windows too, and
    // then no key reaches the form until the mouse is used; so it moves on
    // first.
    if (!value && Focused())
        FForm->FocusAwayFrom(FHandle);
    EnableWindow(FHandle, value ? TRUE : FALSE);
}

bool TControl::Visible() const { return (GetWindowLongA(FHandle, GWL_STYLE) & WS_VISIBLE) != 0; }

void TControl::SetVisible(bool value) { ShowWindow(FHandle, value ? SW_SHOWNA : SW_HIDE); }

void TControl::SetFocus() {
    FForm->FActiveControl = FHandle;
    // A form not yet on screen focuses the control when it appears.
    if (FForm->Visible())
        SendMessageA(FForm->Handle(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(FHandle), TRUE);
}

bool TControl::Focused() const {
    HWND focus = GetFocus();
    return focus != nullptr && (focus == FHandle || IsChild(FHandle, focus));
}

int TControl::HelpContext() const { return static_cast<int>(GetWindowContextHelpId(FHandle)); }

void TControl::SetHelpContext(int context) {
    SetWindowContextHelpId(FHandle, static_cast<DWORD>(context));
}

void TControl::Notify(WORD) {}

LRESULT TControl::NotifyEx(NMHDR*) { return 0; }

// ---- TButton, TCheckBox, TMemo ------------------------------------------------

TButton::TButton(TCustomForm* form, HWND handle) : TControl(form, handle) {
    if (IsPushButton(handle))
        SetWindowSubclass(handle, TCustomForm::PushButtonProc, 0,
                          reinterpret_cast<DWORD_PTR>(form));
}

void TButton::Click() {
    // A person cannot press a disabled or hidden button; the dialog manager
    // still sends its id for Escape and Enter, so the check is made here.
    if (!Enabled() || !Visible())
        return;
    Form()->SetModalResult(ModalResult);
    if (OnClick)
        OnClick(this);
}

void TButton::Notify(WORD code) {
    if (code == BN_CLICKED)
        Click();
}

bool TCheckBox::Checked() const {
    return SendMessageA(Handle(), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TCheckBox::SetChecked(bool value) {
    SendMessageA(Handle(), BM_SETCHECK, value ? BST_CHECKED : BST_UNCHECKED, 0);
}

void TCheckBox::Notify(WORD code) {
    if (code == BN_CLICKED && OnClick)
        OnClick(this);
}

void TMemo::AddLine(const std::string& line) {
    int len = GetWindowTextLengthA(Handle());
    std::string text = len > 0 ? "\r\n" + line : line;
    SendMessageA(Handle(), EM_SETSEL, len, len);
    SendMessageA(Handle(), EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
}

int TMemo::LineCount() const {
    return Text().empty() ? 0 : static_cast<int>(SendMessageA(Handle(), EM_GETLINECOUNT, 0, 0));
}

std::string TMemo::Line(int index) const {
    std::string text = Text();
    size_t start = 0;
    for (int i = 0; i < index; ++i) {
        size_t next = text.find("\r\n", start);
        if (next == std::string::npos)
            return std::string();
        start = next + 2;
    }
    size_t end = text.find("\r\n", start);
    return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// ---- TListControl, TListBox, TComboBox ------------------------------------------

int TListControl::Count() const {
    return static_cast<int>(SendMessageA(Handle(), FMessages.Count, 0, 0));
}

std::string TListControl::Item(int index) const {
    std::string s;
    if (!LineText(Handle(), FMessages.TextLength, FMessages.Text, index, s))
        throw EListError(Format("List index out of bounds (%d)", index));
    return s;
}

int TListControl::Add(const std::string& s) {
    return static_cast<int>(
        SendMessageA(Handle(), FMessages.Add, 0, reinterpret_cast<LPARAM>(s.c_str())));
}

void TListControl::Clear() { SendMessageA(Handle(), FMessages.Reset, 0, 0); }

int TListControl::ItemIndex() const {
    return static_cast<int>(SendMessageA(Handle(), FMessages.GetSelection, 0, 0));
}

void TListControl::SetItemIndex(int index) {
    SendMessageA(Handle(), FMessages.SetSelection, index, 0);
}

// LB_ERR and CB_ERR are both -1.
int TListControl::IndexOf(const std::string& s) const {
    LRESULT r = SendMessageA(Handle(), FMessages.FindExact, static_cast<WPARAM>(-1),
                             reinterpret_cast<LPARAM>(s.c_str()));
    return r == LB_ERR ? -1 : static_cast<int>(r);
}

void TListControl::BeginUpdate() { SendMessageA(Handle(), WM_SETREDRAW, FALSE, 0); }

void TListControl::EndUpdate() {
    SendMessageA(Handle(), WM_SETREDRAW, TRUE, 0);
    InvalidateRect(Handle(), nullptr, TRUE);
}

namespace {
const TListControl::TMessages ListBoxMessages = {LB_GETCOUNT,  LB_GETTEXTLEN, LB_GETTEXT,
                                                 LB_ADDSTRING, LB_RESETCONTENT, LB_GETCURSEL,
                                                 LB_SETCURSEL, LB_FINDSTRINGEXACT};
const TListControl::TMessages ComboBoxMessages = {CB_GETCOUNT,  CB_GETLBTEXTLEN, CB_GETLBTEXT,
                                                  CB_ADDSTRING, CB_RESETCONTENT, CB_GETCURSEL,
                                                  CB_SETCURSEL, CB_FINDSTRINGEXACT};
}  // namespace

TListBox::TListBox(TCustomForm* form, HWND handle)
    : TListControl(form, handle, ListBoxMessages) {}

void TListBox::SetItem(int index, const std::string& s) {
    if (index < 0 || index >= Count())
        throw EListError(Format("List index out of bounds (%d)", index));
    int selected = ItemIndex();
    SendMessageA(Handle(), LB_DELETESTRING, index, 0);
    // LB_INSERTSTRING does not sort, so the line stays where it was.
    SendMessageA(Handle(), LB_INSERTSTRING, index, reinterpret_cast<LPARAM>(s.c_str()));
    SetItemIndex(selected);
}

void TListBox::Delete(int index) {
    if (SendMessageA(Handle(), LB_DELETESTRING, index, 0) == LB_ERR)
        throw EListError(Format("List index out of bounds (%d)", index));
}

void TListBox::Notify(WORD code) {
    if (code == LBN_SELCHANGE && OnClick)
        OnClick(this);
    else if (code == LBN_DBLCLK && OnDblClick)
        OnDblClick(this);
}

TComboBox::TComboBox(TCustomForm* form, HWND handle)
    : TListControl(form, handle, ComboBoxMessages) {}

void TComboBox::Notify(WORD code) {
    if (code == CBN_SELCHANGE && OnChange)
        OnChange(this);
}
