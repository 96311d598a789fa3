#include "configapp/fProcessEdit.h"

#include "config/TarnwickConfigRegAdapter.h"
#include "rtl/ScopeExit.h"
#include "win32/Win32Utils.h"

namespace {
enum { IDC_PAGES = 100, IDC_PATH, IDC_BROWSE, IDC_STARTUP, IDC_SHUTDOWN };
}

// Client area 310 x 196, border 6: a bottom panel with OK and Cancel and a
// page control with one page: the path group above the events group.
TfrmProcessEdit::TfrmProcessEdit(HWND Owner)
    : TForm(Owner, "Monitored Process", WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME,
            WS_EX_DLGMODALFRAME | WS_EX_CONTEXTHELP, 310, 196) {
    GroupBox1 = AddGroupBox("Process", 16, 36, 278, 54);
    // The label comes right before the edit: its accelerator focuses the edit.
    Label1 = AddLabel("&Path", 26, 59, 36);
    edtApplicationPath = AddEdit(IDC_PATH, 64, 55, 196);
    edtApplicationPath->SetHelpContext(10200);
    btnSelectApplication = AddButton("...", IDC_BROWSE, mrNone, 264, 55, 22, 21, BS_FLAT);
    btnSelectApplication->SetHelpContext(10201);
    GroupBox2 = AddGroupBox("Events", 16, 94, 278, 48);
    cbStatupEvent = AddCheckBox("Process Startup", IDC_STARTUP, 26, 115, 125);
    cbStatupEvent->SetHelpContext(10203);
    cbShutdownEvent = AddCheckBox("Process Shutdown", IDC_SHUTDOWN, 156, 115, 132);
    cbShutdownEvent->SetHelpContext(10204);
    btnOk = AddButton("OK", IDOK, mrOk, 149, 159);
    btnCancel = AddButton("Cancel", IDCANCEL, mrCancel, 229, 159);
    pcMain = AddPageControl(IDC_PAGES, 6, 6, 298, 144);
    pcMain->AddPage("&Process Information", {GroupBox1, Label1, edtApplicationPath,
                                             btnSelectApplication, GroupBox2, cbStatupEvent,
                                             cbShutdownEvent});
    SetDefaultButton(btnOk);
    SetCancelButton(btnCancel);

    odSelectApp.Title = "Select Application to Monitor";
    odSelectApp.Filter = "Applications (*.exe)|*.exe";
    odSelectApp.DefaultExt = "*.exe";
    odSelectApp.InitialDir = "%SystemRoot%";
    odSelectApp.Options = OFN_FILEMUSTEXIST | OFN_ENABLESIZING;

    btnSelectApplication->OnClick = [this](TObject* s) { btnSelectApplicationClick(s); };
    OnShow = [this](TObject* s) { FormShow(s); };
    OnCloseQuery = [this](TObject* s, bool& c) { FormCloseQuery(s, c); };
}

bool TfrmProcessEdit::AddProcess(std::unique_ptr<TProcessConfig>& Entry,
                                 TTarnwickConfig* Config) {
    Entry = std::make_unique<TProcessConfig>(std::string(), true, true);
    bool ok = ShowFor(Entry.get(), Config, true);
    if (!ok)
        Entry.reset();
    return ok;
}

bool TfrmProcessEdit::EditProcess(TProcessConfig* Entry, TTarnwickConfig* Config) {
    return ShowFor(Entry, Config, false);
}

bool TfrmProcessEdit::ShowFor(TProcessConfig* Entry, TTarnwickConfig* Config, bool IsNew) {
    FConfig = Config;
    FIsNew = IsNew;
    TScopeExit unbind([this] {
        FConfig = nullptr;
        SetProcess(nullptr);
    });
    SetProcess(Entry);
    return ShowModal() == mrOk;
}

void TfrmProcessEdit::SetProcess(TProcessConfig* Entry) {
    FProcess = Entry;
    if (Entry == nullptr)
        return;
    edtApplicationPath->SetText(Entry->ApplicationPath);
    odSelectApp.FileName = Entry->ApplicationPath;
    cbStatupEvent->SetChecked(Entry->RaiseStartupEvent);
    cbShutdownEvent->SetChecked(Entry->RaiseShutdownEvent);
}

void TfrmProcessEdit::btnSelectApplicationClick(TObject*) {
    // A picked file is shown in its long form; a typed path stays as typed.
    if (odSelectApp.Execute(Handle()))
        edtApplicationPath->SetText(GetLongFileName(odSelectApp.FileName));
}

void TfrmProcessEdit::FormShow(TObject*) {
    pcMain->SetActivePageIndex(0);
    edtApplicationPath->SetFocus();
}

void TfrmProcessEdit::FormCloseQuery(TObject*, bool& CanClose) {
    CanClose = ModalResult() == mrOk ? ValidateAndApply() : true;
}

bool TfrmProcessEdit::ValidateAndApply() {
    std::string path = edtApplicationPath->Text();
    std::string refusal;
    if (path.empty()) {
        refusal = "Please enter the path of the executable you wish to monitor.";
    } else {
        DWORD attributes = GetFileAttributesA(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
            refusal = "File does not exist. Please choose an application.";
        // A new entry, or an edited one whose path changed (letter case
        // counts), must not name a program that is already watched.
        else if ((FIsNew || path != FProcess->ApplicationPath) &&
                 FConfig->Processes->IndexOfPath(path) >= 0)
            refusal = "You are already monitoring this process";
        // The store keeps one program per file name (its subkey's name), so
        // a second program of that name elsewhere cannot be saved beside it.
        for (int i = 0; refusal.empty() && i < FConfig->Processes->Count(); ++i) {
            const TProcessConfig* other = FConfig->Processes->GetItem(i);
            if (other != FProcess && SameProcessSubkey(other->ApplicationPath, path))
                refusal = "You are already monitoring a process with this file name:\r\n" +
                          other->ApplicationPath +
                          "\r\nOnly one process of each file name can be monitored.";
        }
    }
    if (!refusal.empty()) {
        MessageDlg(refusal, TMsgDlgType::mtWarning, mbOK);
        edtApplicationPath->SetFocus();
        return false;
    }
    FProcess->ApplicationPath = path;
    FProcess->RaiseStartupEvent = cbStatupEvent->Checked();
    FProcess->RaiseShutdownEvent = cbShutdownEvent->Checked();
    return true;
}
