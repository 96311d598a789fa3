// The message loop of a program whose main window is a form shown modelessly.
#pragma once

#include "Forms.h"

// Shows the form, runs its OnShow, and dispatches messages until the form is
// hidden (its close query agreed to a close) or WM_QUIT arrives. Keyboard
// navigation and F1 help work as in a modal form. Returns the exit code: 0,
// or the WM_QUIT code.
int RunMainForm(TForm& form);
