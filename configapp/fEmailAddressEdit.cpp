#include "configapp/fEmailAddressEdit.h"

#include "lib/BWSMTPClient.h"
#include "rtl/Dialogs.h"
#include "rtl/SysUtils.h"

namespace {
enum { IDC_EMAILADDRESS = 100 };
}

// Client area 293 x 90, border 4; the buttons sit on a bottom panel below a
// bevel line.
TfrmEmailAddressEdit::TfrmEmailAddressEdit()
    : TForm(nullptr, "Email Address", WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME,
            WS_EX_DLGMODALFRAME, 293, 90) {
    // The label comes right before the edit: its accelerator focuses the edit.
    lblEmailAddress = AddLabel("&Email Address", 8, 8, 200);
    edtEmailAddress = AddEdit(IDC_EMAILADDRESS, 8, 23, 277);
    Bevel1 = AddBevel(4, 50, 285);
    btnOk = AddButton("OK", IDOK, mrOk, 130, 58);
    btnCancel = AddButton("Cancel", IDCANCEL, mrCancel, 210, 58);
    SetDefaultButton(btnOk);
    SetCancelButton(btnCancel);
    OnShow = [this](TObject* s) { FormShow(s); };
    OnCloseQuery = [this](TObject* s, bool& c) { FormCloseQuery(s, c); };
}

bool TfrmEmailAddressEdit::Execute(std::string& Address, const TListBox* Existing,
                                   bool EditMode) {
    FEditMode = EditMode;
    FOriginalAddress = Address;
    FExisting = Existing;
    edtEmailAddress->SetText(Address);
    if (ShowModal() != mrOk)
        return false;
    Address = edtEmailAddress->Text();
    return true;
}

bool TfrmEmailAddressEdit::ValidateAddress() {
    std::string text = edtEmailAddress->Text();
    if (!IsValidEmailAddress(text)) {
        edtEmailAddress->SetFocus();
        MessageDlg("Please enter a valid email address.", TMsgDlgType::mtWarning, mbOK);
        return false;
    }
    // An edited address may come back in another letter case.
    if (FEditMode && LowerCaseAZ(text) == LowerCaseAZ(FOriginalAddress))
        return true;
    if (FExisting != nullptr && FExisting->IndexOf(text) >= 0) {
        edtEmailAddress->SetFocus();
        MessageDlg("This email address is already in the list of recipients.",
                   TMsgDlgType::mtWarning, mbOK);
        return false;
    }
    return true;
}

void TfrmEmailAddressEdit::FormShow(TObject*) { edtEmailAddress->SetFocus(); }

void TfrmEmailAddressEdit::FormCloseQuery(TObject*, bool& CanClose) {
    CanClose = ModalResult() == mrOk ? ValidateAddress() : true;
}
