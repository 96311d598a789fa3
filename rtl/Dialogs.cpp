#include "Dialogs.h"

#include <algorithm>

namespace {

// A message box built in code: icon, text, and a centred row of buttons. OK,
// or else Yes, is the default button; Cancel, or else No, or else OK, answers
// Escape.
class TMessageForm : public TForm {
public:
    explicit TMessageForm(const TMessageBoxRequest& request)
        : TForm(nullptr, request.Caption, WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME,
                WS_EX_DLGMODALFRAME, 200, 100) {
        const int margin = 12, iconSize = 32, gap = 8, buttonWidth = 75, buttonHeight = 25;
        HFONT font = reinterpret_cast<HFONT>(SendMessageA(Handle(), WM_GETFONT, 0, 0));

        RECT text{0, 0, GetSystemMetrics(SM_CXSCREEN) / 2, 0};
        HDC dc = GetDC(Handle());
        HGDIOBJ old = SelectObject(dc, font);
        DrawTextA(dc, request.Text.c_str(), static_cast<int>(request.Text.size()), &text,
                  DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX);
        SelectObject(dc, old);
        ReleaseDC(Handle(), dc);

        const char* icon = IDI_INFORMATION;
        switch (request.Type) {
        case TMsgDlgType::mtWarning: icon = IDI_WARNING; break;
        case TMsgDlgType::mtError: icon = IDI_ERROR; break;
        case TMsgDlgType::mtConfirmation: icon = IDI_QUESTION; break;
        case TMsgDlgType::mtInformation: break;
        }
        auto* image = AddControl<TControl>("STATIC", "", -1, WS_VISIBLE | SS_ICON, 0, margin,
                                           margin, iconSize, iconSize);
        SendMessageA(image->Handle(), STM_SETICON,
                     reinterpret_cast<WPARAM>(LoadIconA(nullptr, icon)), 0);
        int textLeft = margin + iconSize + margin;
        int textTop = margin + std::max(0, (iconSize - static_cast<int>(text.bottom)) / 2);
        AddControl<TControl>("STATIC", request.Text, -1, WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 0,
                             textLeft, textTop, text.right, text.bottom);

        struct Kind { TMsgDlgBtn flag; const char* caption; int result; };
        static const Kind kinds[] = {{mbYes, "&Yes", mrYes},
                                     {mbNo, "&No", mrNo},
                                     {mbOK, "OK", mrOk},
                                     {mbCancel, "Cancel", mrCancel}};
        std::vector<const Kind*> shown;
        for (const Kind& k : kinds)
            if (request.Buttons & k.flag)
                shown.push_back(&k);
        if (shown.empty())
            shown.push_back(&kinds[2]);

        int rowWidth = static_cast<int>(shown.size()) * (buttonWidth + gap) - gap;
        int width = std::max(textLeft + static_cast<int>(text.right) + margin, rowWidth + 2 * margin);
        int top = std::max(margin + iconSize, textTop + static_cast<int>(text.bottom)) + 16;
        int x = (width - rowWidth) / 2;
        TButton* defaultButton = nullptr;
        TButton* byId[8] = {};
        for (const Kind* k : shown) {
            auto* b = AddControl<TButton>("BUTTON", k->caption, k->result,
                                          WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0, x, top,
                                          buttonWidth, buttonHeight);
            b->ModalResult = k->result;
            byId[k->result] = b;
            x += buttonWidth + gap;
        }
        defaultButton = byId[mrOk] != nullptr ? byId[mrOk] : byId[mrYes];
        if (defaultButton == nullptr)
            defaultButton = byId[shown.front()->result];
        SetDefaultButton(defaultButton);
        defaultButton->SetFocus();
        if (byId[mrCancel] != nullptr)
            SetCancelButton(byId[mrCancel]);
        else if (byId[mrNo] != nullptr)
            SetCancelButton(byId[mrNo]);
        else if (byId[mrOk] != nullptr)
            SetCancelButton(byId[mrOk]);
        SetClientSize(width, top + buttonHeight + margin);
    }
};

}  // namespace

std::string MsgDlgCaption(TMsgDlgType type) {
    switch (type) {
    case TMsgDlgType::mtWarning: return "Warning";
    case TMsgDlgType::mtError: return "Error";
    case TMsgDlgType::mtInformation: return "Information";
    case TMsgDlgType::mtConfirmation: return "Confirm";
    }
    return std::string();
}

int MessageDlg(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons,
               int helpContext) {
    TMessageBoxRequest r;
    r.Caption = MsgDlgCaption(type);
    r.Text = text;
    r.Type = type;
    r.Buttons = buttons;
    r.HelpContext = helpContext;
    return Application().ShowMessageBox(r, ShowMessageForm);
}

int ShowMessageForm(const TMessageBoxRequest& request) {
    TMessageForm form(request);
    return form.ShowModal();
}

std::function<bool(TOpenDialog&)> TOpenDialog::OnExecute;

bool TOpenDialog::Execute(HWND owner) {
    if (OnExecute)
        return OnExecute(*this);
    std::string filter = Filter;
    for (char& c : filter)
        if (c == '|')
            c = '\0';
    filter.append(2, '\0');
    std::string ext = DefaultExt;
    if (ext.compare(0, 2, "*.") == 0)
        ext.erase(0, 2);
    else if (!ext.empty() && ext[0] == '.')
        ext.erase(0, 1);
    std::vector<char> file(MAX_PATH * 4, '\0');
    FileName.copy(file.data(), file.size() - 1);

    OPENFILENAMEA ofn{};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = owner != nullptr ? owner : Application().ModalOwner();
    ofn.lpstrFilter = Filter.empty() ? nullptr : filter.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.lpstrInitialDir = InitialDir.empty() ? nullptr : InitialDir.c_str();
    ofn.lpstrTitle = Title.empty() ? nullptr : Title.c_str();
    ofn.lpstrDefExt = ext.empty() ? nullptr : ext.c_str();
    ofn.Flags = Options | OFN_EXPLORER;
    if (!GetOpenFileNameA(&ofn))
        return false;
    FileName = file.data();
    return true;
}
