// The message loop of a program whose main window is a form shown modelessly.
#pragma once

#include <exception>

#include "Forms.h"

// Shows the form, runs its OnShow, and dispatches messages until WM_QUIT
// arrives, which the form's close posts once its close query agreed; a form
// hidden with its minimised application window keeps running. Keyboard
// navigation and F1 help work as in a modal form. Returns the exit code: 0,
// or the WM_QUIT code.
int RunMainForm(TForm& form);

// The runtime's report of an exception that ends the program before its main
// window runs: a box captioned "Application Error" that names the exception's
// class and the program, then gives the message (with a full stop added as
// the default exception box does). Returns the program's exit code, 1.
int ShowStartupException(const std::exception& e);
