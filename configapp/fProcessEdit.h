// The watched-program dialog: the full path of the program's executable,
// typed or picked with the open-file dialog, and its two alert switches.
#pragma once

#include <memory>

#include "config/TarnwickConfig.h"
#include "rtl/Dialogs.h"
#include "rtl/Forms.h"

class TfrmProcessEdit : public TForm {
public:
    explicit TfrmProcessEdit(HWND Owner = nullptr);

    // A new entry (empty path, start and stop alerts on), shown for editing.
    // True exactly on OK, and the caller then owns Entry; otherwise Entry is
    // freed and null.
    bool AddProcess(std::unique_ptr<TProcessConfig>& Entry, TTarnwickConfig* Config);
    // Edits Entry, an entry of Config->Processes, in place; true exactly on
    // OK, and otherwise the entry is unchanged.
    bool EditProcess(TProcessConfig* Entry, TTarnwickConfig* Config);
    // Binds an entry (null: none) and shows its values.
    void SetProcess(TProcessConfig* Entry);
    // The check of the close query on OK, then the write into the entry.
    bool ValidateAndApply();

    void btnSelectApplicationClick(TObject* Sender);
    void FormShow(TObject* Sender);
    void FormCloseQuery(TObject* Sender, bool& CanClose);

    TButton* btnOk;
    TButton* btnCancel;
    TPageControl* pcMain;
    TControl* GroupBox1;
    TControl* Label1;
    TControl* GroupBox2;
    TCheckBox* cbStatupEvent;
    TCheckBox* cbShutdownEvent;
    TButton* btnSelectApplication;
    TOpenDialog odSelectApp;
    TEdit* edtApplicationPath;

private:
    // Shows the dialog with Entry and Config bound, and lets go of both
    // however it ends, so that a refused new entry is freed unbound.
    bool ShowFor(TProcessConfig* Entry, TTarnwickConfig* Config, bool IsNew);

    TTarnwickConfig* FConfig = nullptr;  // not owned; set while shown
    bool FIsNew = false;
    TProcessConfig* FProcess = nullptr;  // not owned
};
