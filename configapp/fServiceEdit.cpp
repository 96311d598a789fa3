#include "configapp/fServiceEdit.h"

#include "rtl/Dialogs.h"
#include "rtl/ScopeExit.h"

namespace {
enum { IDC_PAGES = 100, IDC_SERVICENAME, IDC_STARTUP, IDC_SHUTDOWN, IDC_FAILURE, IDC_DISPLAYNAME };
const char* kSelectService = "Please select the name of the service you wish to monitor.";
}  // namespace

// Client area 359 x 248, border 6: a bottom panel with OK and Cancel and a
// page control with one page: the service group above the events group.
TfrmServiceEdit::TfrmServiceEdit(HWND Owner)
    : TForm(Owner, "Monitored Service", WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME,
            WS_EX_DLGMODALFRAME | WS_EX_CONTEXTHELP, 359, 248) {
    GroupBox1 = AddGroupBox("Service Name", 16, 36, 327, 78);
    // The label comes right before the list: its accelerator focuses the list.
    Label1 = AddLabel("&Service", 28, 59, 70);
    cbServiceName = AddDropDownList(IDC_SERVICENAME, 104, 55, 225, 240, CBS_SORT);
    cbServiceName->SetHelpContext(10300);
    Label2 = AddLabel("Description", 28, 86, 70);
    stxServiceDisplayName =
        AddControl<TControl>("STATIC", "", IDC_DISPLAYNAME,
                             WS_VISIBLE | SS_LEFT | SS_SUNKEN | SS_NOPREFIX | SS_ENDELLIPSIS, 0,
                             104, 84, 225, 18);
    GroupBox2 = AddGroupBox("Events", 16, 120, 327, 76);
    cbStatupEvent = AddCheckBox("Service Startup", IDC_STARTUP, 28, 138, 290);
    cbStatupEvent->SetHelpContext(10301);
    cbShutdownEvent = AddCheckBox("Service Shutdown", IDC_SHUTDOWN, 28, 156, 290);
    cbShutdownEvent->SetHelpContext(10302);
    cbFailureEvent =
        AddCheckBox("Only raise events on service failure", IDC_FAILURE, 46, 174, 290);
    cbFailureEvent->SetHelpContext(10303);
    btnOk = AddButton("OK", IDOK, mrOk, 198, 211);
    btnCancel = AddButton("Cancel", IDCANCEL, mrCancel, 278, 211);
    pcMain = AddPageControl(IDC_PAGES, 6, 6, 347, 196);
    pcMain->AddPage("Service", {GroupBox1, Label1, cbServiceName, Label2, stxServiceDisplayName,
                                GroupBox2, cbStatupEvent, cbShutdownEvent, cbFailureEvent});
    SetDefaultButton(btnOk);
    SetCancelButton(btnCancel);

    cbShutdownEvent->OnClick = [this](TObject* s) { cbShutdownEventClick(s); };
    cbServiceName->OnChange = [this](TObject* s) { cbServiceNameChange(s); };
    OnShow = [this](TObject* s) { FormShow(s); };
    OnCloseQuery = [this](TObject* s, bool& c) { FormCloseQuery(s, c); };
}

void TfrmServiceEdit::SetInstalledServices(const TStringList* List) {
    FInstalledServices = List;
    TUpdateLock lock(*cbServiceName);
    cbServiceName->Clear();
    cbServiceName->Add(std::string());
    if (List != nullptr)
        for (int i = 0; i < List->Count(); ++i)
            cbServiceName->Add(List->Names(i));
}

bool TfrmServiceEdit::AddService(std::unique_ptr<TServiceConfig>& Entry,
                                 TTarnwickConfig* Config) {
    Entry = std::make_unique<TServiceConfig>(std::string(), true, true, false);
    bool ok = ShowFor(Entry.get(), Config, true);
    if (!ok)
        Entry.reset();
    return ok;
}

bool TfrmServiceEdit::EditService(TServiceConfig* Entry, TTarnwickConfig* Config) {
    return ShowFor(Entry, Config, false);
}

bool TfrmServiceEdit::ShowFor(TServiceConfig* Entry, TTarnwickConfig* Config, bool IsNew) {
    FConfig = Config;
    FIsNew = IsNew;
    TScopeExit unbind([this] {
        FConfig = nullptr;
        SetService(nullptr);
    });
    SetService(Entry);
    return ShowModal() == mrOk;
}

void TfrmServiceEdit::SetService(TServiceConfig* Entry) {
    FService = Entry;
    if (Entry == nullptr)
        return;
    cbServiceName->SetItemIndex(cbServiceName->IndexOf(Entry->ServiceName));
    cbServiceNameChange(this);
    cbStatupEvent->SetChecked(Entry->RaiseStartupEvent);
    cbShutdownEvent->SetChecked(Entry->RaiseShutdownEvent);
    cbFailureEvent->SetChecked(Entry->OnlyShutdownFailureEvent);
    cbFailureEvent->SetEnabled(cbShutdownEvent->Checked());
}

void TfrmServiceEdit::cbShutdownEventClick(TObject*) {
    // The failure box keeps its tick while disabled.
    cbFailureEvent->SetEnabled(cbShutdownEvent->Checked());
}

void TfrmServiceEdit::cbServiceNameChange(TObject*) {
    std::string name = cbServiceName->Text();
    // The empty item shows no description.
    std::string display;
    if (FInstalledServices != nullptr && !name.empty())
        display = FInstalledServices->Values(name);
    stxServiceDisplayName->SetText(display);
}

void TfrmServiceEdit::FormShow(TObject*) {
    pcMain->SetActivePageIndex(0);
    cbServiceName->SetFocus();
}

void TfrmServiceEdit::FormCloseQuery(TObject*, bool& CanClose) {
    CanClose = ModalResult() == mrOk ? ValidateAndApply() : true;
}

bool TfrmServiceEdit::ValidateAndApply() {
    std::string name = cbServiceName->Text();
    bool refused = name.empty();
    // A new entry, or an edited one whose name changed (letter case counts),
    // must not name a service that is already watched.
    if (!refused && (FIsNew || name != FService->ServiceName))
        refused = FConfig->Services->IndexOfName(name) >= 0;
    if (refused) {
        MessageDlg(kSelectService, TMsgDlgType::mtWarning, mbOK);
        cbServiceName->SetFocus();
        return false;
    }
    FService->ServiceName = name;
    FService->RaiseStartupEvent = cbStatupEvent->Checked();
    FService->RaiseShutdownEvent = cbShutdownEvent->Checked();
    FService->OnlyShutdownFailureEvent = cbFailureEvent->Checked();
    return true;
}
