// The standard message dialogs: warning, error, information and confirmation
// boxes with fixed captions and button texts, shown through the application's
// message-box seam (Application().OnMessageBox) so that tests never block.
#pragma once

#include <string>

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
