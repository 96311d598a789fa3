#include "Forms.h"

#include <commctrl.h>

#include "ScopeExit.h"
#include "SysUtils.h"
#include "Thread.h"

namespace {

void InitControlsOnce() {
    static const bool done = [] {
        INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_STANDARD_CLASSES | ICC_TAB_CLASSES |
                                                  ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES};
        InitCommonControlsEx(&icc);
        return true;
    }();
    (void)done;
}

// A dialog template header (DLGTEMPLATEEX) with no items, built in memory.
std::vector<WORD> EmptyDialogTemplate(DWORD style, DWORD exStyle) {
    std::vector<WORD> t;
    auto dword = [&t](DWORD v) {
        t.push_back(LOWORD(v));
        t.push_back(HIWORD(v));
    };
    auto wstr = [&t](const wchar_t* s) {
        do t.push_back(static_cast<WORD>(*s)); while (*s++);
    };
    t.push_back(1);       // dlgVer
    t.push_back(0xFFFF);  // signature: extended template
    dword(0);             // helpID
    dword(exStyle);
    dword((style & ~WS_VISIBLE) | DS_SETFONT | DS_FIXEDSYS);
    t.push_back(0);  // no items
    t.push_back(0);  // x, y, cx, cy: the size is set in pixels afterwards
    t.push_back(0);
    t.push_back(100);
    t.push_back(50);
    t.push_back(0);  // no menu
    t.push_back(0);  // the dialog class
    wstr(L"");       // caption, set afterwards in the ANSI code page
    t.push_back(8);    // point size
    t.push_back(400);  // weight
    t.push_back(0x0100);  // italic 0, charset DEFAULT_CHARSET
    wstr(L"MS Shell Dlg");
    return t;
}

// The help ids of an extended template's dialog (id 0) and controls. Windows
// gives them to the controls itself; Wine does not, so the form sets them.
std::vector<std::pair<int, DWORD>> TemplateHelpIds(const BYTE* data, size_t size) {
    std::vector<std::pair<int, DWORD>> result;
    const BYTE* end = data + size;
    auto word = [&](const BYTE* p) { return p + 2 <= end ? *reinterpret_cast<const WORD*>(p) : 0; };
    auto dword = [&](const BYTE* p) { return p + 4 <= end ? *reinterpret_cast<const DWORD*>(p) : 0; };
    auto skipSzOrOrd = [&](const BYTE* p) {
        WORD first = word(p);
        if (first == 0xFFFF)
            return p + 4;
        while (p + 2 <= end && word(p) != 0)
            p += 2;
        return p + 2;
    };
    auto align4 = [&](const BYTE* p) {
        return data + ((static_cast<size_t>(p - data) + 3) & ~static_cast<size_t>(3));
    };
    if (size < 26 || word(data) != 1 || word(data + 2) != 0xFFFF)
        return result;
    result.emplace_back(0, dword(data + 4));
    DWORD style = dword(data + 12);
    WORD items = word(data + 16);
    const BYTE* p = data + 26;
    p = skipSzOrOrd(p);  // menu
    p = skipSzOrOrd(p);  // class
    p = skipSzOrOrd(p);  // title
    if (style & (DS_SETFONT | DS_SHELLFONT)) {
        p += 6;  // point size, weight, italic, charset
        p = skipSzOrOrd(p);
    }
    for (WORD i = 0; i < items && p < end; ++i) {
        p = align4(p);
        if (p + 24 > end)
            break;
        DWORD helpId = dword(p);
        int id = static_cast<int>(dword(p + 20));
        p += 24;
        p = skipSzOrOrd(p);  // class
        p = skipSzOrOrd(p);  // title
        p += 2 + word(p);    // creation data
        if (helpId != 0)
            result.emplace_back(id, helpId);
    }
    return result;
}

// Not in the SDK headers: posted by the system after an F1 key press; its
// default handling sends WM_HELP.
constexpr UINT WM_KEYF1 = 0x004D;

// Hidden because the program is minimised: the window belongs, through its
// owners, to the application window, and that is minimised.
bool HiddenWithProgram(HWND hwnd) {
    HWND main = Application().MainFormHandle;
    HWND app = main != nullptr ? GetWindow(main, GW_OWNER) : nullptr;
    return app != nullptr && IsIconic(app) && GetAncestor(hwnd, GA_ROOTOWNER) == app;
}

BOOL CALLBACK CollectEnabled(HWND hwnd, LPARAM param) {
    auto* list = reinterpret_cast<std::pair<HWND, std::vector<HWND>>*>(param);
    if (hwnd != list->first && IsWindowVisible(hwnd) && IsWindowEnabled(hwnd))
        list->second.push_back(hwnd);
    return TRUE;
}

}  // namespace

// ---- TForm --------------------------------------------------------------------------

TForm::TForm(HWND owner, const char* templateName, HINSTANCE instance) {
    CreateFromTemplate(owner, templateName, instance);
}

TForm::TForm(HWND owner, int templateId, HINSTANCE instance) {
    CreateFromTemplate(owner, MAKEINTRESOURCEA(templateId), instance);
}

TForm::TForm(HWND owner, const std::string& caption, DWORD style, DWORD exStyle,
             int clientWidth, int clientHeight) {
    InitControlsOnce();
    FExplicitOwner = owner != nullptr;
    std::vector<WORD> t = EmptyDialogTemplate(style, exStyle);
    HWND hwnd = CreateDialogIndirectParamA(GetModuleHandleA(nullptr),
                                           reinterpret_cast<LPCDLGTEMPLATEA>(t.data()), owner,
                                           DialogProc, reinterpret_cast<LPARAM>(this));
    if (hwnd == nullptr)
        RaiseLastOSError();
    FHandle = hwnd;
    SetCaption(caption);
    SetClientSize(clientWidth, clientHeight);
}

void TForm::CreateFromTemplate(HWND owner, const char* name, HINSTANCE instance) {
    InitControlsOnce();
    FExplicitOwner = owner != nullptr;
    if (instance == nullptr)
        instance = GetModuleHandleA(nullptr);
    HRSRC res = FindResourceA(instance, name, reinterpret_cast<LPCSTR>(RT_DIALOG));
    if (res == nullptr)
        RaiseLastOSError();
    HGLOBAL data = LoadResource(instance, res);
    DWORD size = SizeofResource(instance, res);
    if (data == nullptr || size < sizeof(DLGTEMPLATE))
        RaiseLastOSError();
    // A private copy with WS_VISIBLE cleared: the form appears only in ShowModal.
    std::vector<DWORD> copy((size + 3) / 4);
    memcpy(copy.data(), LockResource(data), size);
    auto* words = reinterpret_cast<WORD*>(copy.data());
    DWORD* style = (words[0] == 1 && words[1] == 0xFFFF) ? &copy[3] : &copy[0];
    *style &= ~WS_VISIBLE;
    HWND hwnd = CreateDialogIndirectParamA(instance, reinterpret_cast<LPCDLGTEMPLATEA>(copy.data()),
                                           owner, DialogProc, reinterpret_cast<LPARAM>(this));
    if (hwnd == nullptr)
        RaiseLastOSError();
    FHandle = hwnd;
    for (const auto& [id, helpId] :
         TemplateHelpIds(reinterpret_cast<const BYTE*>(copy.data()), size)) {
        HWND target = id == 0 ? hwnd : GetDlgItem(hwnd, id);
        if (target != nullptr)
            SetWindowContextHelpId(target, helpId);
    }
}

TForm::~TForm() {
    if (FHandle != nullptr) {
        SetWindowLongPtrA(FHandle, DWLP_USER, 0);
        DestroyWindow(FHandle);
    }
}

std::string TForm::Caption() const { return WindowText(FHandle); }

void TForm::SetCaption(const std::string& caption) { SetWindowTextA(FHandle, caption.c_str()); }

void TForm::SetClientSize(int width, int height) {
    RECT r{0, 0, width, height};
    AdjustWindowRectEx(&r, static_cast<DWORD>(GetWindowLongA(FHandle, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongA(FHandle, GWL_EXSTYLE)));
    SetWindowPos(FHandle, nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

int TForm::ClientWidth() const {
    RECT r;
    GetClientRect(FHandle, &r);
    return r.right;
}

int TForm::ClientHeight() const {
    RECT r;
    GetClientRect(FHandle, &r);
    return r.bottom;
}

HWND TForm::ControlHandle(int id) const {
    HWND h = GetDlgItem(FHandle, id);
    if (h == nullptr)
        throw EInvalidOperation(Format("Control %d not found", id));
    return h;
}

HWND TForm::CreateChild(const char* windowClass, const std::string& text, int id, DWORD style,
                        DWORD exStyle, int x, int y, int width, int height) {
    HWND h = CreateWindowExA(exStyle, windowClass, text.c_str(), style | WS_CHILD, x, y, width,
                             height, FHandle, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                             GetModuleHandleA(nullptr), nullptr);
    if (h == nullptr)
        RaiseLastOSError();
    SendMessageA(h, WM_SETFONT, SendMessageA(FHandle, WM_GETFONT, 0, 0), FALSE);
    return h;
}

TButton* TForm::AddButton(const std::string& caption, int id, int modalResult, int x, int y,
                          int width, int height, DWORD extraStyle) {
    auto* b = AddControl<TButton>("BUTTON", caption, id,
                                  WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON | extraStyle, 0, x, y,
                                  width, height);
    b->ModalResult = modalResult;
    return b;
}

TCheckBox* TForm::AddCheckBox(const std::string& caption, int id, int x, int y, int width,
                              int height) {
    return AddControl<TCheckBox>("BUTTON", caption, id,
                                 WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, 0, x, y, width,
                                 height);
}

TEdit* TForm::AddEdit(int id, int x, int y, int width, int height) {
    return AddControl<TEdit>("EDIT", "", id, WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL,
                             WS_EX_CLIENTEDGE, x, y, width, height);
}

TMemo* TForm::AddMemo(int id, int x, int y, int width, int height, DWORD extraStyle) {
    auto* memo = AddControl<TMemo>("EDIT", "", id,
                                   WS_VISIBLE | WS_TABSTOP | ES_MULTILINE | ES_AUTOVSCROLL |
                                       extraStyle,
                                   WS_EX_CLIENTEDGE, x, y, width, height);
    // The edit control's own limit (30,000 characters in Wine, 32,767 on
    // Windows) silently drops what is added past it; a memo has none.
    SendMessageA(memo->Handle(), EM_SETLIMITTEXT, 0, 0);
    return memo;
}

TControl* TForm::AddLabel(const std::string& caption, int x, int y, int width, int height,
                          DWORD extraStyle) {
    return AddControl<TControl>("STATIC", caption, -1, WS_VISIBLE | SS_LEFT | extraStyle, 0, x,
                                y, width, height);
}

TControl* TForm::AddGroupBox(const std::string& caption, int x, int y, int width, int height) {
    return AddControl<TControl>("BUTTON", caption, -1, WS_VISIBLE | BS_GROUPBOX, 0, x, y, width,
                                height);
}

TControl* TForm::AddBevel(int x, int y, int width) {
    return AddControl<TControl>("STATIC", "", -1, WS_VISIBLE | SS_ETCHEDHORZ, 0, x, y, width, 2);
}

TListBox* TForm::AddListBox(int id, int x, int y, int width, int height, DWORD extraStyle) {
    return AddControl<TListBox>(
        "LISTBOX", "", id,
        WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | extraStyle,
        WS_EX_CLIENTEDGE, x, y, width, height);
}

TComboBox* TForm::AddDropDownList(int id, int x, int y, int width, int dropHeight,
                                  DWORD extraStyle) {
    return AddControl<TComboBox>("COMBOBOX", "", id,
                                 WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST |
                                     extraStyle,
                                 0, x, y, width, dropHeight);
}

TPageControl* TForm::AddPageControl(int id, int x, int y, int width, int height) {
    // Clipping its siblings keeps the tab control from painting over the
    // controls of its pages, which lie above it.
    return AddControl<TPageControl>(WC_TABCONTROLA, "", id,
                                    WS_VISIBLE | WS_TABSTOP | WS_CLIPSIBLINGS, 0, x, y, width,
                                    height);
}

TControl* TForm::FindControl(HWND handle) const {
    if (handle == nullptr)
        return nullptr;
    for (const auto& c : FControls)
        if (c->Handle() == handle)
            return c.get();
    return nullptr;
}

TControl* TForm::ActiveControl() const {
    if (Visible()) {
        for (HWND h = GetFocus(); h != nullptr && h != FHandle; h = GetParent(h))
            if (TControl* c = FindControl(h))
                return c;
        return nullptr;
    }
    return FindControl(FActiveControl);
}

void TForm::SetDefaultButton(TButton* button) {
    FDefaultButton = button;
    // The dialog's default id stays that of the default button: Enter on a
    // control that is not a push button asks the dialog for it.
    if (button != nullptr)
        SendMessageA(FHandle, DM_SETDEFID, button->Id(), 0);
    DefaultLookFollows(GetFocus());
}

void TForm::SetCancelButton(TButton* button) { FCancelButton = button; }

bool TForm::DialogChar(const MSG& msg) {
    if (msg.message != WM_SYSCHAR || (msg.hwnd != FHandle && !IsChild(FHandle, msg.hwnd)))
        return false;
    for (const auto& c : FControls)
        if (auto* pages = dynamic_cast<TPageControl*>(c.get()))
            if (pages->SelectByAccelerator(static_cast<char>(msg.wParam)))
                return true;
    return false;
}

bool TForm::HelpKey(const MSG& msg) {
    if ((msg.message != WM_KEYDOWN || msg.wParam != VK_F1) && msg.message != WM_KEYF1)
        return false;
    if (msg.hwnd != FHandle && !IsChild(FHandle, msg.hwnd))
        return false;
    if (msg.message == WM_KEYDOWN) {
        try {
            ShowHelpFor(msg.hwnd);
        } catch (...) {
            Application().HandleException();
        }
    }
    return true;
}

void TForm::ProcessMessage(MSG& msg) {
    if (HelpKey(msg))
        return;
    bool taken = false;
    try {
        taken = DialogChar(msg);
    } catch (...) {
        Application().HandleException();
    }
    if (!taken && !IsDialogMessageA(FHandle, &msg)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

bool TForm::ShowHelpFor(HWND window) {
    for (HWND h = window; h != nullptr; h = GetParent(h)) {
        DWORD context = GetWindowContextHelpId(h);
        if (context != 0)
            return Application().HelpContext(static_cast<int>(context));
        if (h == FHandle)
            break;
    }
    return false;
}

void TForm::Close() {
    if (FModal) {
        SetModalResult(mrCancel);
        return;
    }
    bool canClose = true;
    if (OnCloseQuery)
        OnCloseQuery(this, canClose);
    if (!canClose)
        return;
    ShowWindow(FHandle, SW_HIDE);
    // The main form's close ends the program's message loop.
    if (FHandle == Application().MainFormHandle)
        PostQuitMessage(0);
}

void TForm::CloseModal() {
    try {
        bool canClose = true;
        if (OnCloseQuery)
            OnCloseQuery(this, canClose);
        if (!canClose)
            FModalResult = mrNone;
    } catch (...) {
        FModalResult = mrNone;
        Application().HandleException();
    }
}

void TForm::PlaceOnScreen() {
    RECT w;
    GetWindowRect(FHandle, &w);
    RECT area;
    HWND owner = GetWindow(FHandle, GW_OWNER);
    if (owner != nullptr && IsWindowVisible(owner))
        GetWindowRect(owner, &area);
    else
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    int x = area.left + ((area.right - area.left) - (w.right - w.left)) / 2;
    int y = area.top + ((area.bottom - area.top) - (w.bottom - w.top)) / 2;
    SetWindowPos(FHandle, nullptr, x < 0 ? 0 : x, y < 0 ? 0 : y, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TForm::FocusFirst() {
    HWND target = FActiveControl;
    if (target == nullptr || !IsWindowEnabled(target) || !IsWindowVisible(target))
        target = GetNextDlgTabItem(FHandle, nullptr, FALSE);
    if (target != nullptr)
        SendMessageA(FHandle, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(target), TRUE);
}

void TForm::Appear() {
    FWaitsForProgram = false;
    PlaceOnScreen();
    ShowWindow(FHandle, SW_SHOW);
    SetActiveWindow(FHandle);
    FocusFirst();
}

int TForm::ShowModal() {
    if (FModal || Visible())
        throw EInvalidOperation("Cannot make a visible window modal");
    HWND previous = GetActiveWindow();
    if (!FExplicitOwner) {
        HWND owner = Application().ModalOwner();
        SetWindowLongPtrA(FHandle, GWLP_HWNDPARENT,
                          reinterpret_cast<LONG_PTR>(owner != FHandle ? owner : nullptr));
    }

    // Like any modal dialog, the form disables the other windows of its thread
    // while it is up, and gives them back before it hides, so that activation
    // returns to the window that was active. Its owners are among them even
    // while they are hidden with the minimised program.
    std::pair<HWND, std::vector<HWND>> others{FHandle, {}};
    EnumThreadWindows(GetCurrentThreadId(), CollectEnabled, reinterpret_cast<LPARAM>(&others));
    for (HWND h = GetWindow(FHandle, GW_OWNER); h != nullptr; h = GetWindow(h, GW_OWNER))
        if (IsWindowEnabled(h) && !IsWindowVisible(h))
            others.second.push_back(h);
    for (HWND h : others.second)
        EnableWindow(h, FALSE);
    FModal = true;
    FModalResult = mrNone;
    ModalForms().push_back(FHandle);
    TScopeExit restore([&] {
        ModalForms().pop_back();
        FModal = false;
        FWaitsForProgram = false;
        for (HWND h : others.second)
            EnableWindow(h, TRUE);
        ShowWindow(FHandle, SW_HIDE);
        if (previous != nullptr && IsWindow(previous))
            SetActiveWindow(previous);
    });

    if (OnShow)
        OnShow(this);
    // Shown now, a form would stand alone on the screen of a minimised
    // program; it comes back with the program instead, as its owners do.
    if (HiddenWithProgram(FHandle))
        FWaitsForProgram = true;
    else
        Appear();

    // Worker threads hand work to the main thread (Synchronize); the loop
    // runs it, woken by a thread message when some is queued.
    bool mainThread = GetCurrentThreadId() == MainThreadID();
    if (mainThread && !WakeMainThread) {
        DWORD id = GetCurrentThreadId();
        WakeMainThread = [id] { PostThreadMessageA(id, WM_NULL, 0, 0); };
    }

    MSG msg;
    for (;;) {
        if (mainThread)
            CheckSynchronize(0);
        if (FModalResult != mrNone) {
            CloseModal();
            if (FModalResult != mrNone)
                break;
        }
        BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0) {
            // The program is ending: hand the quit on to the outer loop.
            PostQuitMessage(static_cast<int>(msg.wParam));
            FModalResult = mrCancel;
            break;
        }
        if (got == -1) {
            FModalResult = mrCancel;
            break;
        }
        ProcessMessage(msg);
    }
    return FModalResult;
}

bool TForm::HandleMessage(UINT, WPARAM, LPARAM, LRESULT&) { return false; }

INT_PTR TForm::DialogMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (HandleMessage(msg, wParam, lParam, result)) {
        SetWindowLongPtrA(FHandle, DWLP_MSGRESULT, result);
        return TRUE;
    }
    switch (msg) {
    case WM_COMMAND: {
        HWND from = reinterpret_cast<HWND>(lParam);
        if (TControl* c = FindControl(from)) {
            c->Notify(HIWORD(wParam));
            return TRUE;
        }
        // Enter and Escape without a control of that id behind them.
        if (from == nullptr && LOWORD(wParam) == IDOK && FDefaultButton != nullptr) {
            FDefaultButton->Click();
            return TRUE;
        }
        if (from == nullptr && LOWORD(wParam) == IDCANCEL) {
            if (FCancelButton != nullptr)
                FCancelButton->Click();
            return TRUE;
        }
        return FALSE;
    }
    case WM_NOTIFY: {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        if (TControl* c = FindControl(header->hwndFrom)) {
            SetWindowLongPtrA(FHandle, DWLP_MSGRESULT, c->NotifyEx(header));
            return TRUE;
        }
        return FALSE;
    }
    case WM_CLOSE:
        Close();
        return TRUE;
    case WM_SHOW_WAITING:
        if (FWaitsForProgram && !HiddenWithProgram(FHandle))
            Appear();
        return TRUE;
    case WM_SHOWWINDOW:
        // Hidden or shown again with the minimised or restored application
        // window: so are the forms this one owns.
        if (lParam == SW_PARENTCLOSING || lParam == SW_PARENTOPENING)
            ShowOwnedPopups(FHandle, lParam == SW_PARENTOPENING);
        return FALSE;
    case WM_HELP: {
        // The title-bar help button and then a click on a control: the same
        // topic as F1 on that control.
        auto* info = reinterpret_cast<HELPINFO*>(lParam);
        if (info->iContextType != HELPINFO_WINDOW ||
            ShowHelpFor(static_cast<HWND>(info->hItemHandle)))
            return TRUE;
        // The system passes over disabled windows when it looks for the one
        // clicked, so a click on a disabled control names the form (or a
        // group box) instead; the control under the click is the one meant.
        for (const auto& c : FControls) {
            RECT r;
            if (c->HelpContext() != 0 && IsWindowVisible(c->Handle()) &&
                GetWindowRect(c->Handle(), &r) && PtInRect(&r, info->MousePos)) {
                ShowHelpFor(c->Handle());
                break;
            }
        }
        return TRUE;
    }
    default:
        return FALSE;
    }
}

INT_PTR CALLBACK TForm::DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_INITDIALOG) {
        SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
        reinterpret_cast<TForm*>(lParam)->FHandle = hwnd;
        return FALSE;  // the focus is set when the form is shown
    }
    auto* form = reinterpret_cast<TForm*>(GetWindowLongPtrA(hwnd, DWLP_USER));
    if (form == nullptr)
        return FALSE;
    try {
        return form->DialogMessage(msg, wParam, lParam);
    } catch (...) {
        Application().HandleException();
        return TRUE;
    }
}
