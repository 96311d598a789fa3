// The watched-service dialog: picks a service from those installed, shows its
// display name and sets the entry's three alert switches.
#pragma once

#include <memory>

#include "config/TarnwickConfig.h"
#include "rtl/Forms.h"

class TfrmServiceEdit : public TForm {
public:
    explicit TfrmServiceEdit(HWND Owner = nullptr);

    // The table of installed services, one "name=display name" line each (not
    // owned); fills the choice with an empty item and every name.
    void SetInstalledServices(const TStringList* List);
    // A new entry (empty name, start and stop alerts on, failure-only off),
    // shown for editing. True exactly on OK, and the caller then owns Entry;
    // otherwise Entry is freed and null.
    bool AddService(std::unique_ptr<TServiceConfig>& Entry, TTarnwickConfig* Config);
    // Edits Entry, an entry of Config->Services, in place; true exactly on OK,
    // and otherwise the entry is unchanged.
    bool EditService(TServiceConfig* Entry, TTarnwickConfig* Config);
    // Binds an entry (null: none) and shows its values.
    void SetService(TServiceConfig* Entry);
    // The check of the close query on OK, then the write into the entry.
    bool ValidateAndApply();

    void cbShutdownEventClick(TObject* Sender);
    void cbServiceNameChange(TObject* Sender);
    void FormShow(TObject* Sender);
    void FormCloseQuery(TObject* Sender, bool& CanClose);

    TButton* btnOk;
    TButton* btnCancel;
    TPageControl* pcMain;
    TControl* GroupBox1;
    TControl* GroupBox2;
    TCheckBox* cbStatupEvent;
    TCheckBox* cbShutdownEvent;
    TCheckBox* cbFailureEvent;
    TComboBox* cbServiceName;
    TControl* Label1;
    TControl* Label2;
    TControl* stxServiceDisplayName;

private:
    // Shows the dialog with Entry and Config bound, and lets go of both
    // however it ends, so that a refused new entry is freed unbound.
    bool ShowFor(TServiceConfig* Entry, TTarnwickConfig* Config, bool IsNew);

    TTarnwickConfig* FConfig = nullptr;             // not owned; set while shown
    const TStringList* FInstalledServices = nullptr;  // not owned
    TServiceConfig* FService = nullptr;             // not owned
    bool FIsNew = false;
};
