// The configuration program's main window: the pages General, Event Log,
// Services, Processes and About, the transfer between the controls and the
// configuration, and OK with saving and the notification of the service.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "config/TarnwickConfig.h"
#include "rtl/ComCtrls.h"
#include "rtl/Forms.h"

// Control ids of the main window, for keyboard routing and for whoever drives
// the window from outside.
enum TfrmKorrinConfigMainIds : int {
    IDC_MAIN_PAGES = 1000,
    IDC_INTERNAL_MX = 1001,
    IDC_USE_SMTP,
    IDC_USE_FAILOVER,
    IDC_PRIMARY_SMTP,
    IDC_FAILOVER_SMTP,
    IDC_FROM_EMAIL,
    IDC_EMAIL_ADDRESSES,
    IDC_TEST_SMTP,
    IDC_GEN_STARTUP,
    IDC_GEN_SHUTDOWN,
    IDC_GEN_WINDOWS_SHUTDOWN,
    IDC_STARTUP_WAIT,
    IDC_WRITE_EVENTLOG,
    IDC_SERVICE_STARTUP,
    IDC_SERVICE_SHUTDOWN,
    IDC_PROCESS_STARTUP,
    IDC_PROCESS_TERMINATION,
    IDC_TARNWICK_STARTUP,
    IDC_TARNWICK_SHUTDOWN,
    IDC_SERVICES,
    IDC_SERVICE_ADD,
    IDC_SERVICE_EDIT,
    IDC_SERVICE_REMOVE,
    IDC_PROCESSES,
    IDC_PROCESS_ADD,
    IDC_PROCESS_EDIT,
    IDC_PROCESS_REMOVE,
    IDC_TARNWICK_HOME,
    IDC_BRELLOW_HOME,
    IDC_TARNWICK_SUPPORT,
};

// The eight choices of the start-up wait, in the order the list shows them.
constexpr int StartupWaitPeriodCount = 8;
extern const char* const StartupWaitPeriodCaptions[StartupWaitPeriodCount];
extern const int StartupWaitPeriodSeconds[StartupWaitPeriodCount];

// The help file, looked for beside the program.
extern const char* const TarnwickHelpFileName;
// The About page's web addresses.
extern const char* const TarnwickHomeUrl;
extern const char* const BrellowHomeUrl;
extern const char* const TarnwickSupportUrl;

class TfrmKorrinConfigMain : public TForm {
public:
    // Builds the window and its controls and reads the installed services
    // (the operating-system error when the service control manager cannot be
    // opened leaves the constructor). FormCreate runs afterwards.
    explicit TfrmKorrinConfigMain(HWND Owner = nullptr);
    ~TfrmKorrinConfigMain() override;

    void LoadInstalledServices();
    // Fills the wait list, loads the configuration and sets the help file.
    // A configuration that cannot be loaded is reported and leaves the
    // settings pages disabled.
    void FormCreate(TObject* Sender);
    // Binds Config (owned by the window from now on; null: none, which
    // disables the settings pages).
    void LoadFromConfig(std::unique_ptr<TTarnwickConfig> Config);
    // Validates the From address and the recipients, then copies the
    // controls into the configuration; false (after the warning) when refused.
    bool ApplyToConfig();
    void FormCloseQuery(TObject* Sender, bool& CanClose);
    void NotifyService();
    void FormShow(TObject* Sender);

    void btnOkClick(TObject* Sender);
    void btnCancelClick(TObject* Sender);
    void btnHelpClick(TObject* Sender);

    void cbIntenalMXClick(TObject* Sender);
    void cbUseSMTPClick(TObject* Sender);
    void cbUseFailoverSMTPClick(TObject* Sender);
    void cbWriteAlertsToEventLogClick(TObject* Sender);
    void btnEmailAddressesClick(TObject* Sender);
    void btnTestSMTPClick(TObject* Sender);
    void btnServiceAddClick(TObject* Sender);
    void btnServiceEditClick(TObject* Sender);
    void btnServiceRemoveClick(TObject* Sender);
    void btnProcessAddClick(TObject* Sender);
    void btnProcessEditClick(TObject* Sender);
    void btnProcessRemoveClick(TObject* Sender);
    void lvServicesDblClick(TObject* Sender);
    void lvProcessesDblClick(TObject* Sender);
    void lvServicesSelectItem(TObject* Sender, int Index, bool Selected);
    void lvProcessesSelectItem(TObject* Sender, int Index, bool Selected);
    void lblTarnwickHomeClick(TObject* Sender);
    void lblBrellowHomeClick(TObject* Sender);
    void lblTarnwickSupportClick(TObject* Sender);

    // Rebuild a list from the configuration and select again the row of the
    // entry selected before (by name or path), if it is still there.
    void RefreshServiceList();
    void RefreshProcessList();
    void UpdateServiceButtons();
    void UpdateProcessButtons();
    void OpenWebPage(const std::string& Url);

    TTarnwickConfig* Config() const { return FConfig.get(); }
    const TStringList& InstalledServices() const { return *FInstalledServices; }
    // The page indexes of pcMain.
    enum { PageGeneral, PageEventLog, PageServices, PageProcesses, PageAbout };

    TPageControl* pcMain;
    TButton* btnOk;
    TButton* btnCancel;
    TButton* btnHelp;
    TControl* gbEmail;
    TCheckBox* cbIntenalMX;
    TCheckBox* cbUseSMTP;
    TCheckBox* cbUseFailoverSMTP;
    TEdit* edtPrimarySMTP;
    TEdit* edtFailoverSMTP;
    TEdit* edtFromEmail;
    TButton* btnEmailAddresses;
    TButton* btnTestSMTP;
    TCheckBox* cbGenerateStartupEvent;
    TCheckBox* cbGenerateShutdownEvent;
    TCheckBox* cbGenerateWindowsShutdown;
    TComboBox* cbStartupWaitPeriod;
    TCheckBox* cbWriteAlertsToEventLog;
    TCheckBox* cbServiceStartupEvent;
    TCheckBox* cbServiceShutdownEvent;
    TCheckBox* cbProcessStartupEvent;
    TCheckBox* cbProcessTerminationEvent;
    TCheckBox* cbTarnwickStartupEvent;
    TCheckBox* cbTarnwickShutdownEvent;
    TListView* lvServices;
    TButton* btnServiceAdd;
    TButton* btnServiceEdit;
    TButton* btnServiceRemove;
    TListView* lvProcesses;
    TButton* btnProcessAdd;
    TButton* btnProcessEdit;
    TButton* btnProcessRemove;
    TControl* lblTarnwickHome;
    TControl* lblBrellowHome;
    TControl* lblTarnwickSupport;

    // Called instead of the shell in tests; empty: ShellExecuteA.
    std::function<void(const std::string& url)> OnOpenWebPage;

protected:
    bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    void BuildControls();
    void SetPagesEnabled(bool enabled);
    bool IsLinkLabel(HWND hwnd) const;

    std::unique_ptr<TStringList> FInstalledServices;
    std::unique_ptr<TTarnwickConfig> FConfig;
    // Controls of each settings page, for enabling them as a whole.
    std::vector<TControl*> FPageControls[4];
    HFONT FFont = nullptr;
    HFONT FLinkFont = nullptr;
    HFONT FTitleFont = nullptr;
};
