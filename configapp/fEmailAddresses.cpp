#include "configapp/fEmailAddresses.h"

#include "rtl/ScopeExit.h"

namespace {
enum { IDC_PAGES = 100, IDC_ADDRESSES, IDC_ADD, IDC_EDIT, IDC_REMOVE };
}

// Client area 293 x 302, border 4: a bottom panel with OK and Cancel, and a
// page control with one page holding the list and, at its bottom, the three
// list buttons. The title bar carries the context-help button.
TfrmEmailAddresses::TfrmEmailAddresses(HWND Owner)
    : TForm(Owner, "Email Addresses", WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME,
            WS_EX_DLGMODALFRAME | WS_EX_CONTEXTHELP, 293, 302) {
    lsAddresses = AddListBox(IDC_ADDRESSES, 12, 33, 269, 181, LBS_SORT);
    lsAddresses->SetHelpContext(10100);
    btnAdd = AddButton("&Add", IDC_ADD, mrNone, 12, 222);
    btnAdd->SetHelpContext(10101);
    btnEdit = AddButton("&Edit", IDC_EDIT, mrNone, 93, 222);
    btnEdit->SetHelpContext(10102);
    btnRemove = AddButton("&Remove", IDC_REMOVE, mrNone, 174, 222);
    btnRemove->SetHelpContext(10103);
    btnOk = AddButton("OK", IDOK, mrOk, 130, 268);
    btnCancel = AddButton("Cancel", IDCANCEL, mrCancel, 210, 268);
    pcMain = AddPageControl(IDC_PAGES, 4, 4, 285, 254);
    pcMain->AddPage("&Email Addresses", {lsAddresses, btnAdd, btnEdit, btnRemove});
    SetDefaultButton(btnOk);
    SetCancelButton(btnCancel);

    btnAdd->OnClick = [this](TObject* s) { btnAddClick(s); };
    btnEdit->OnClick = [this](TObject* s) { btnEditClick(s); };
    btnRemove->OnClick = [this](TObject* s) { btnRemoveClick(s); };
    lsAddresses->OnClick = [this](TObject* s) { lsAddressesClick(s); };
    lsAddresses->OnDblClick = [this](TObject* s) { lsAddressesDblClick(s); };
    OnShow = [this](TObject* s) { FormShow(s); };
    OnCloseQuery = [this](TObject* s, bool& c) { FormCloseQuery(s, c); };
}

TfrmEmailAddresses::~TfrmEmailAddresses() = default;

bool TfrmEmailAddresses::Execute(TTarnwickConfig* Config) {
    SetConfig(Config);
    TScopeExit unbind([this] { SetConfig(nullptr); });
    return ShowModal() == mrOk;
}

void TfrmEmailAddresses::SetConfig(TTarnwickConfig* Config) {
    FConfig = Config;
    if (Config != nullptr)
        RefreshList(std::string());
}

void TfrmEmailAddresses::RefreshList(const std::string& Select) {
    {
        TUpdateLock lock(*lsAddresses);
        std::string key = Select;
        if (key.empty() && lsAddresses->ItemIndex() >= 0)
            key = lsAddresses->Item(lsAddresses->ItemIndex());
        lsAddresses->Clear();
        for (int i = 0; i < FConfig->EmailAddresses->Count(); ++i)
            lsAddresses->Add(FConfig->EmailAddresses->Strings(i));
        if (!key.empty())
            lsAddresses->SetItemIndex(lsAddresses->IndexOf(key));
    }
    UpdateButtons();
}

void TfrmEmailAddresses::UpdateButtons() {
    bool selected = lsAddresses->ItemIndex() >= 0;
    btnAdd->SetEnabled(true);
    btnEdit->SetEnabled(selected);
    btnRemove->SetEnabled(selected);
}

bool TfrmEmailAddresses::SaveToConfig() {
    // The configuration's list sorts the addresses itself.
    TStringList& list = *FConfig->EmailAddresses;
    list.Clear();
    for (int i = 0; i < lsAddresses->Count(); ++i)
        list.Add(lsAddresses->Item(i));
    return true;
}

TfrmEmailAddressEdit* TfrmEmailAddresses::GetEditForm() {
    if (!FEditForm)
        FEditForm = std::make_unique<TfrmEmailAddressEdit>();
    return FEditForm.get();
}

void TfrmEmailAddresses::btnAddClick(TObject*) {
    std::string address;
    if (!GetEditForm()->Execute(address, lsAddresses, false))
        return;
    lsAddresses->Add(address);
    lsAddresses->SetItemIndex(lsAddresses->IndexOf(address));
    UpdateButtons();
}

void TfrmEmailAddresses::btnEditClick(TObject*) {
    int index = lsAddresses->ItemIndex();
    if (index < 0)
        return;
    std::string address = lsAddresses->Item(index);
    // The line keeps its place: the list is sorted again only when refilled.
    if (GetEditForm()->Execute(address, lsAddresses, true))
        lsAddresses->SetItem(index, address);
    UpdateButtons();
}

void TfrmEmailAddresses::btnRemoveClick(TObject*) {
    int index = lsAddresses->ItemIndex();
    if (index < 0)
        return;
    lsAddresses->Delete(index);
    lsAddresses->SetItemIndex(-1);
    UpdateButtons();
}

void TfrmEmailAddresses::lsAddressesClick(TObject*) { UpdateButtons(); }

void TfrmEmailAddresses::lsAddressesDblClick(TObject*) { btnEdit->Click(); }

void TfrmEmailAddresses::FormShow(TObject*) {
    pcMain->SetActivePageIndex(0);
    lsAddresses->SetFocus();
}

void TfrmEmailAddresses::FormCloseQuery(TObject*, bool& CanClose) {
    CanClose = ModalResult() == mrOk ? SaveToConfig() : true;
}
