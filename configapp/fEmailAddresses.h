// The recipients dialog: lists the recipient addresses of the configuration
// being edited; Add, Edit and Remove change only the list on screen, and only
// OK copies it back into the configuration.
#pragma once

#include <memory>
#include <string>

#include "config/TarnwickConfig.h"
#include "configapp/fEmailAddressEdit.h"
#include "rtl/Forms.h"

class TfrmEmailAddresses : public TForm {
public:
    explicit TfrmEmailAddresses(HWND Owner = nullptr);
    ~TfrmEmailAddresses() override;

    // Shows the recipients of Config (never null). True exactly when closed
    // with OK; Config->EmailAddresses then holds the dialog's list. After
    // Cancel or the close box the configuration is untouched.
    bool Execute(TTarnwickConfig* Config);
    // Binds a configuration (null: none) and fills the list from it.
    void SetConfig(TTarnwickConfig* Config);
    // Refills the list from the configuration, selecting Select, or else the
    // line selected before, when the list holds it.
    void RefreshList(const std::string& Select);
    void UpdateButtons();
    // Copies the lines into the configuration's recipients; always true.
    bool SaveToConfig();
    // The address dialog, made on first use and reused afterwards.
    TfrmEmailAddressEdit* GetEditForm();

    void btnAddClick(TObject* Sender);
    void btnEditClick(TObject* Sender);
    void btnRemoveClick(TObject* Sender);
    void lsAddressesClick(TObject* Sender);
    void lsAddressesDblClick(TObject* Sender);
    void FormShow(TObject* Sender);
    void FormCloseQuery(TObject* Sender, bool& CanClose);

    TButton* btnOk;
    TButton* btnCancel;
    TPageControl* pcMain;
    TListBox* lsAddresses;
    TButton* btnAdd;
    TButton* btnEdit;
    TButton* btnRemove;

private:
    TTarnwickConfig* FConfig = nullptr;  // not owned; set while Execute runs
    std::unique_ptr<TfrmEmailAddressEdit> FEditForm;
};
