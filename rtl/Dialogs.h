// The standard message dialogs: warning, error, information and confirmation
// boxes with fixed captions and button texts, shown through the application's
// message-box seam (Application().OnMessageBox) so that tests never block.
#pragma once

#include <functional>
#include <string>

#include <windows.h>
#include <commdlg.h>

#include "Forms.h"

// "Warning", "Error", "Information" or "Confirm".
std::string MsgDlgCaption(TMsgDlgType type);

// Shows Text in a box of the given kind with the given buttons ("&Yes", "&No",
// "OK", "Cancel", in that order) and returns the modal result of the button
// chosen (mrYes, mrNo, mrOk, mrCancel; mrCancel also for the close box).
int MessageDlg(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons,
               int helpContext = 0);

// Puts the box of a request on screen, bypassing the seam.
int ShowMessageForm(const TMessageBoxRequest& request);

// The platform's open-file dialog.
class TOpenDialog : public TObject {
public:
    std::string Title;
    // "Description|pattern|Description|pattern..."
    std::string Filter;
    // Appended to a typed name without extension; a leading "*." or "." is
    // dropped, because the platform wants the bare extension.
    std::string DefaultExt;
    // Handed to the platform unchanged (it may hold "%SystemRoot%").
    std::string InitialDir;
    // The file shown when the dialog opens, and the one chosen afterwards.
    std::string FileName;
    // OFN_* flags.
    DWORD Options = OFN_FILEMUSTEXIST | OFN_ENABLESIZING;

    // True when a file was chosen (FileName then holds it); false on cancel.
    bool Execute(HWND owner = nullptr);

    // Replaces the platform's dialog (tests choose a file through it); it
    // gets the dialog as set up and returns what Execute returns.
    static std::function<bool(TOpenDialog&)> OnExecute;
};
