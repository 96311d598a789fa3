// The address dialog: enters or changes one recipient address, checks it and
// refuses an address that is already listed.
#pragma once

#include <string>

#include "rtl/Forms.h"

class TfrmEmailAddressEdit : public TForm {
public:
    // Made without an owner; it is owned by the form that shows it.
    TfrmEmailAddressEdit();

    // Shows the dialog with Address in the edit. On OK, Address becomes the
    // text exactly as typed and the result is true; otherwise Address is left
    // alone. Existing is the list searched for duplicates (not case-sensitive);
    // in EditMode the address may keep its own text in another letter case.
    bool Execute(std::string& Address, const TListBox* Existing, bool EditMode);
    // The check of the close query on OK; a refusal is shown as a warning
    // after the focus moved to the edit.
    bool ValidateAddress();

    void FormShow(TObject* Sender);
    void FormCloseQuery(TObject* Sender, bool& CanClose);

    TButton* btnOk;
    TButton* btnCancel;
    TControl* lblEmailAddress;
    TEdit* edtEmailAddress;
    TControl* Bevel1;

private:
    bool FEditMode = false;
    std::string FOriginalAddress;
    const TListBox* FExisting = nullptr;  // not owned
};
