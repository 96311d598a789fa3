// The configuration program: one main window, no command-line options.
#include <windows.h>

#include <exception>

#include "configapp/fTarnwickConfig.h"
#include "rtl/AppRun.h"
#include "rtl/Forms.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    Application().Title = "Tarnwick Configuration Application";
    // Stays in force only when the window's creation stops before it sets
    // the file beside the program.
    Application().HelpFile = "C:\\Program Files\\Brellow\\Tarnwick\\Tarnwick_Lite.chm";
    try {
        TfrmKorrinConfigMain frmKorrinConfigMain;
        frmKorrinConfigMain.FormCreate(&frmKorrinConfigMain);
        RunMainForm(frmKorrinConfigMain);
    } catch (const std::exception& e) {
        // The window was never made (or its loop failed): the runtime's box.
        return ShowStartupException(e);
    }
    return 0;
}
