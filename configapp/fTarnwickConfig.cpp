#include "fTarnwickConfig.h"

#include <commctrl.h>
#include <shellapi.h>

#include <cstring>
#include <vector>

#include "config/TarnwickConfigRegAdapter.h"
#include "lib/BWSMTPClient.h"
#include "rtl/Dialogs.h"
#include "rtl/Handles.h"
#include "rtl/ScopeExit.h"
#include "rtl/SysUtils.h"

#include "configapp/fEmailAddresses.h"
#include "configapp/fProcessEdit.h"
#include "configapp/fServiceEdit.h"
#include "configapp/fTestSMTP.h"
#include "win32/ServiceControl.h"
#include "win32/ServiceStatusEnumerator.h"

const char* const StartupWaitPeriodCaptions[StartupWaitPeriodCount] = {
    "Immediately", "30s", "45s", "1m", "1.5m", "2m", "5m", "10m"};
const int StartupWaitPeriodSeconds[StartupWaitPeriodCount] = {0, 30, 45, 60, 90, 120, 300, 600};

const char* const TarnwickHelpFileName = "Tarnwick_Lite.chm";
const char* const TarnwickHomeUrl = "https://www.example.com/tarnwick/";
const char* const BrellowHomeUrl = "https://www.example.com/";
const char* const TarnwickSupportUrl = "https://www.example.com/tarnwick/support/";

namespace {

// Fonts live as long as the program: the window's controls refer to them
// until the very end of its destruction.
HFONT MakeFont(const char* face, int height, int weight, bool underline) {
    LOGFONTA lf{};
    lf.lfHeight = height;
    lf.lfWeight = weight;
    lf.lfUnderline = underline ? TRUE : FALSE;
    lf.lfCharSet = DEFAULT_CHARSET;
    lf.lfQuality = DEFAULT_QUALITY;
    strncpy(lf.lfFaceName, face, LF_FACESIZE - 1);
    return CreateFontIndirectA(&lf);
}

int PointsToPixels(int points) {
    HDC dc = GetDC(nullptr);
    int pixels = MulDiv(points, GetDeviceCaps(dc, LOGPIXELSY), 72);
    ReleaseDC(nullptr, dc);
    return pixels;
}

HFONT DialogFont() {
    static HFONT font = MakeFont("MS Sans Serif", -PointsToPixels(8), FW_NORMAL, false);
    return font;
}

HFONT LinkFont() {
    static HFONT font = MakeFont("MS Sans Serif", -PointsToPixels(8), FW_NORMAL, true);
    return font;
}

HFONT TitleFont() {
    static HFONT font = MakeFont("Arial", -16, FW_BOLD, false);
    return font;
}

const char* YesNo(bool value) { return value ? "Yes" : "No"; }

// Geometry of the window (client pixels): a 6-pixel border, the page
// control above a strip with the three buttons at the right.
constexpr int FormWidth = 433;
constexpr int FormHeight = 387;
constexpr int Border = 6;
constexpr int ButtonWidth = 75;
constexpr int ButtonHeight = 25;
constexpr int PagesTop = Border;
constexpr int PagesHeight = FormHeight - 2 * Border - ButtonHeight - 8;
// The display area of the pages, below the tabs.
constexpr int PageLeft = Border + 8;
constexpr int PageTop = PagesTop + 28;
constexpr int PageWidth = FormWidth - 2 * PageLeft;

}  // namespace

TfrmKorrinConfigMain::TfrmKorrinConfigMain(HWND Owner)
    : TForm(Owner, "Tarnwick Lite", WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME,
            WS_EX_DLGMODALFRAME | WS_EX_CONTEXTHELP, FormWidth,
            FormHeight) {
    SendMessageA(Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(DialogFont()), FALSE);
    BuildControls();
    SetWindowPos(Handle(), nullptr, 368, 295, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    OnShow = [this](TObject* s) { FormShow(s); };
    OnCloseQuery = [this](TObject* s, bool& c) { FormCloseQuery(s, c); };
    FInstalledServices = std::make_unique<TStringList>();
    LoadInstalledServices();
}

TfrmKorrinConfigMain::~TfrmKorrinConfigMain() = default;

void TfrmKorrinConfigMain::BuildControls() {
    auto font = [](TControl* c, HFONT f) {
        SendMessageA(c->Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(f), FALSE);
        return c;
    };
    auto button = [&](const char* caption, int id, int x, int y) {
        auto* b = AddControl<TButton>("BUTTON", caption, id, WS_TABSTOP | BS_PUSHBUTTON, 0, x, y,
                                      ButtonWidth, ButtonHeight);
        font(b, DialogFont());
        return b;
    };
    auto check = [&](const char* caption, int id, int x, int y, int w, DWORD style = 0,
                     DWORD kind = BS_AUTOCHECKBOX) {
        auto* c = AddControl<TCheckBox>("BUTTON", caption, id, WS_TABSTOP | kind | style, 0, x,
                                        y, w, 17);
        font(c, DialogFont());
        return c;
    };
    auto label = [&](const char* caption, int x, int y, int w, DWORD style = 0) {
        return font(AddControl<TControl>("STATIC", caption, -1, SS_LEFT | style, 0, x, y, w, 13),
                    DialogFont());
    };
    auto group = [&](const char* caption, int x, int y, int w, int h) {
        return font(AddControl<TControl>("BUTTON", caption, -1, BS_GROUPBOX, 0, x, y, w, h),
                    DialogFont());
    };
    auto edit = [&](int id, int x, int y, int w) {
        auto* e = AddControl<TEdit>("EDIT", "", id, WS_TABSTOP | ES_AUTOHSCROLL,
                                    WS_EX_CLIENTEDGE, x, y, w, 21);
        font(e, DialogFont());
        return e;
    };
    auto listView = [&](int id) {
        auto* lv = AddControl<TListView>(
            WC_LISTVIEWA, "", id,
            WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_SORTASCENDING,
            WS_EX_CLIENTEDGE, PageLeft, PageTop, PageWidth, 260);
        font(lv, DialogFont());
        SendMessageA(lv->Handle(), LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT,
                     LVS_EX_FULLROWSELECT);
        return lv;
    };
    const int x0 = PageLeft + 10;

    // General: the mail group, then the start-up group, in tab order.
    std::vector<TControl*>& general = FPageControls[PageGeneral];
    gbEmail = group("&Email", PageLeft, PageTop, PageWidth, 176);
    // Auto radio buttons: a click selects; the mutual exclusion and the
    // enabling follow from the handlers, as for a selection by program.
    cbIntenalMX = check("Perform &MX lookup internally (Direct Send)", IDC_INTERNAL_MX, x0,
                        PageTop + 18, 300, WS_GROUP, BS_AUTORADIOBUTTON);
    cbIntenalMX->SetHelpContext(10001);
    cbUseSMTP = check("Use &SMTP host", IDC_USE_SMTP, x0, PageTop + 38, 300, 0,
                      BS_AUTORADIOBUTTON);
    cbUseSMTP->SetHelpContext(10002);
    cbUseFailoverSMTP =
        check("&Use fail-over SMTP host", IDC_USE_FAILOVER, x0, PageTop + 58, 300, WS_GROUP);
    cbUseFailoverSMTP->SetHelpContext(10003);
    TControl* lblPrimary = label("&Primary SMTP host", x0, PageTop + 82, 180);
    edtPrimarySMTP = edit(IDC_PRIMARY_SMTP, x0, PageTop + 97, 185);
    edtPrimarySMTP->SetHelpContext(10004);
    TControl* lblFailover = label("&Fail-over SMTP host", x0 + 200, PageTop + 82, 180);
    edtFailoverSMTP = edit(IDC_FAILOVER_SMTP, x0 + 200, PageTop + 97, 185);
    edtFailoverSMTP->SetHelpContext(10005);
    TControl* lblFrom = label("&From Email Address", x0, PageTop + 126, 180);
    edtFromEmail = edit(IDC_FROM_EMAIL, x0, PageTop + 141, 185);
    edtFromEmail->SetHelpContext(10006);
    btnEmailAddresses = button("&Recipients...", IDC_EMAIL_ADDRESSES, x0 + 200, PageTop + 139);
    btnEmailAddresses->SetHelpContext(10007);
    btnTestSMTP = button("&Test SMTP...", IDC_TEST_SMTP, x0 + 310, PageTop + 139);
    btnTestSMTP->SetHelpContext(10008);

    const int y1 = PageTop + 184;
    TControl* gbStartup = group("&Startup && Shutdown", PageLeft, y1, PageWidth, 110);
    cbGenerateStartupEvent = check("Generate event on startup", IDC_GEN_STARTUP, x0, y1 + 18, 300);
    cbGenerateStartupEvent->SetHelpContext(10010);
    cbGenerateShutdownEvent =
        check("Generate event on service shutdown", IDC_GEN_SHUTDOWN, x0, y1 + 38, 300);
    cbGenerateShutdownEvent->SetHelpContext(10009);
    cbGenerateWindowsShutdown =
        check("Generate event on Windows shutdown", IDC_GEN_WINDOWS_SHUTDOWN, x0, y1 + 58, 300);
    cbGenerateWindowsShutdown->SetHelpContext(10011);
    TControl* lblStart = label("Start monitoring", x0, y1 + 84, 92);
    cbStartupWaitPeriod = AddControl<TComboBox>("COMBOBOX", "", IDC_STARTUP_WAIT,
                                                WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, 0,
                                                x0 + 96, y1 + 80, 100, 200);
    font(cbStartupWaitPeriod, DialogFont());
    cbStartupWaitPeriod->SetHelpContext(10012);
    TControl* lblAfter = label("after windows has booted.", x0 + 204, y1 + 84, 180);
    general = {gbEmail,         cbIntenalMX,      cbUseSMTP,         cbUseFailoverSMTP,
               lblPrimary,      edtPrimarySMTP,   lblFailover,       edtFailoverSMTP,
               lblFrom,         edtFromEmail,     btnEmailAddresses, btnTestSMTP,
               gbStartup,       cbGenerateStartupEvent,              cbGenerateShutdownEvent,
               cbGenerateWindowsShutdown,         lblStart,          cbStartupWaitPeriod,
               lblAfter};

    // Event Log.
    std::vector<TControl*>& eventLog = FPageControls[PageEventLog];
    TControl* gbEventLog = group("Event Log Messages", PageLeft, PageTop, PageWidth, 200);
    cbWriteAlertsToEventLog = check("&Write alerts to the event log", IDC_WRITE_EVENTLOG, x0,
                                    PageTop + 20, 300);
    cbWriteAlertsToEventLog->SetHelpContext(10013);
    TControl* lblSelect = label("Select specific alerts:", x0, PageTop + 48, 200);
    const int x1 = x0 + 16;
    cbServiceStartupEvent =
        check("Service Startup", IDC_SERVICE_STARTUP, x1, PageTop + 66, 160);
    cbServiceStartupEvent->SetHelpContext(10014);
    cbServiceShutdownEvent =
        check("Service Shutdown", IDC_SERVICE_SHUTDOWN, x1, PageTop + 86, 160);
    cbServiceShutdownEvent->SetHelpContext(10015);
    cbProcessStartupEvent =
        check("Process Startup", IDC_PROCESS_STARTUP, x1, PageTop + 106, 160);
    cbProcessStartupEvent->SetHelpContext(10016);
    cbProcessTerminationEvent =
        check("Process Termination", IDC_PROCESS_TERMINATION, x1, PageTop + 126, 160);
    cbProcessTerminationEvent->SetHelpContext(10017);
    cbTarnwickStartupEvent =
        check("Tarnwick Startup ", IDC_TARNWICK_STARTUP, x1, PageTop + 146, 160);
    cbTarnwickStartupEvent->SetHelpContext(10018);
    cbTarnwickShutdownEvent =
        check("Tarnwick Shutdown", IDC_TARNWICK_SHUTDOWN, x1, PageTop + 166, 160);
    eventLog = {gbEventLog,
                cbWriteAlertsToEventLog,
                lblSelect,
                cbServiceStartupEvent,
                cbServiceShutdownEvent,
                cbProcessStartupEvent,
                cbProcessTerminationEvent,
                cbTarnwickStartupEvent,
                cbTarnwickShutdownEvent};

    // Services and Processes: the list above its three buttons.
    const int by = PageTop + 268;
    const int bx = PageLeft + PageWidth - 3 * ButtonWidth - 12;
    lvServices = listView(IDC_SERVICES);
    lvServices->SetHelpContext(10020);
    lvServices->AddColumn("Service", 150);
    lvServices->AddColumn("Startup", 100);
    lvServices->AddColumn("Shutdown", 100);
    btnServiceAdd = button("&Add", IDC_SERVICE_ADD, bx, by);
    btnServiceAdd->SetHelpContext(10021);
    btnServiceEdit = button("&Edit", IDC_SERVICE_EDIT, bx + ButtonWidth + 6, by);
    btnServiceEdit->SetHelpContext(10022);
    btnServiceRemove = button("&Remove", IDC_SERVICE_REMOVE, bx + 2 * (ButtonWidth + 6), by);
    btnServiceRemove->SetHelpContext(10023);
    FPageControls[PageServices] = {lvServices, btnServiceAdd, btnServiceEdit, btnServiceRemove};

    lvProcesses = listView(IDC_PROCESSES);
    lvProcesses->SetHelpContext(10024);
    lvProcesses->AddColumn("Name", 150);
    lvProcesses->AddColumn("Startup", 100);
    lvProcesses->AddColumn("Shutdown", 100);
    btnProcessAdd = button("&Add", IDC_PROCESS_ADD, bx, by);
    btnProcessAdd->SetHelpContext(10025);
    btnProcessEdit = button("&Edit", IDC_PROCESS_EDIT, bx + ButtonWidth + 6, by);
    btnProcessEdit->SetHelpContext(10026);
    btnProcessRemove = button("&Remove", IDC_PROCESS_REMOVE, bx + 2 * (ButtonWidth + 6), by);
    btnProcessRemove->SetHelpContext(10027);
    FPageControls[PageProcesses] = {lvProcesses, btnProcessAdd, btnProcessEdit,
                                    btnProcessRemove};

    // About.
    TControl* gbAbout = group("About this Application", PageLeft, PageTop, PageWidth, 160);
    TControl* icon = AddControl<TControl>("STATIC", "", -1, SS_ICON | SS_REALSIZECONTROL, 0,
                                          x0 + 6, PageTop + 26, 32, 32);
    HICON appIcon = LoadIconA(GetModuleHandleA(nullptr), "MAINICON");
    if (appIcon == nullptr)
        appIcon = LoadIconA(nullptr, IDI_APPLICATION);
    SendMessageA(icon->Handle(), STM_SETICON, reinterpret_cast<WPARAM>(appIcon), 0);
    SetWindowPos(icon->Handle(), nullptr, 0, 0, 32, 32, SWP_NOMOVE | SWP_NOZORDER);
    TControl* lblTitle = AddControl<TControl>("STATIC", "Tarnwick Lite", -1, SS_LEFT, 0,
                                              x0 + 50, PageTop + 26, 200, 20);
    font(lblTitle, TitleFont());
    TControl* lblVersion = label("Version 1.0", x0 + 50, PageTop + 48, 200);
    auto link = [&](const char* caption, int id, int y) {
        // As wide as its text, so that only the text itself is the link.
        HDC dc = GetDC(Handle());
        HGDIOBJ old = SelectObject(dc, LinkFont());
        SIZE size{};
        GetTextExtentPoint32A(dc, caption, static_cast<int>(strlen(caption)), &size);
        SelectObject(dc, old);
        ReleaseDC(Handle(), dc);
        auto* l = AddControl<TControl>("STATIC", caption, id, SS_LEFT | SS_NOTIFY, 0, x0 + 50, y,
                                       size.cx + 1, 13);
        font(l, LinkFont());
        return l;
    };
    lblTarnwickHome = link("Tarnwick Home Page", IDC_TARNWICK_HOME, PageTop + 80);
    lblBrellowHome = link("Brellow Home Page", IDC_BRELLOW_HOME, PageTop + 100);
    lblTarnwickSupport = link("Tarnwick Support", IDC_TARNWICK_SUPPORT, PageTop + 120);
    std::vector<TControl*> about = {gbAbout,         icon,           lblTitle,          lblVersion,
                                    lblTarnwickHome, lblBrellowHome, lblTarnwickSupport};

    // The bottom strip, right-aligned.
    const int bottomY = FormHeight - Border - ButtonHeight;
    const int helpX = FormWidth - Border - ButtonWidth;
    btnOk = button("OK", IDOK, helpX - 2 * (ButtonWidth + 6), bottomY);
    btnOk->ModalResult = mrOk;
    btnCancel = button("Cancel", IDCANCEL, helpX - (ButtonWidth + 6), bottomY);
    btnCancel->ModalResult = mrCancel;
    btnHelp = button("&Help", IDHELP, helpX, bottomY);
    btnHelp->ModalResult = mrCancel;
    SetDefaultButton(btnOk);
    SetCancelButton(btnCancel);

    // The page control comes last, so that it lies below its pages' controls.
    pcMain = AddControl<TPageControl>(WC_TABCONTROLA, "", IDC_MAIN_PAGES,
                                      WS_TABSTOP | WS_CLIPSIBLINGS | WS_VISIBLE, 0, Border,
                                      PagesTop, FormWidth - 2 * Border, PagesHeight);
    font(pcMain, DialogFont());
    SetWindowPos(pcMain->Handle(), HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    pcMain->AddPage("&General", general);
    pcMain->AddPage("&Event Log", eventLog);
    pcMain->AddPage("&Services", FPageControls[PageServices]);
    pcMain->AddPage("&Processes", FPageControls[PageProcesses]);
    pcMain->AddPage("&About", about);
    pcMain->SetActivePageIndex(PageGeneral);
    for (TButton* b : {btnOk, btnCancel, btnHelp})
        b->SetVisible(true);

    // Handlers.
    btnOk->OnClick = [this](TObject* s) { btnOkClick(s); };
    btnCancel->OnClick = [this](TObject* s) { btnCancelClick(s); };
    btnHelp->OnClick = [this](TObject* s) { btnHelpClick(s); };
    cbIntenalMX->OnClick = [this](TObject* s) { cbIntenalMXClick(s); };
    cbUseSMTP->OnClick = [this](TObject* s) { cbUseSMTPClick(s); };
    cbUseFailoverSMTP->OnClick = [this](TObject* s) { cbUseFailoverSMTPClick(s); };
    cbWriteAlertsToEventLog->OnClick = [this](TObject* s) { cbWriteAlertsToEventLogClick(s); };
    btnEmailAddresses->OnClick = [this](TObject* s) { btnEmailAddressesClick(s); };
    btnTestSMTP->OnClick = [this](TObject* s) { btnTestSMTPClick(s); };
    btnServiceAdd->OnClick = [this](TObject* s) { btnServiceAddClick(s); };
    btnServiceEdit->OnClick = [this](TObject* s) { btnServiceEditClick(s); };
    btnServiceRemove->OnClick = [this](TObject* s) { btnServiceRemoveClick(s); };
    btnProcessAdd->OnClick = [this](TObject* s) { btnProcessAddClick(s); };
    btnProcessEdit->OnClick = [this](TObject* s) { btnProcessEditClick(s); };
    btnProcessRemove->OnClick = [this](TObject* s) { btnProcessRemoveClick(s); };
    lvServices->OnDblClick = [this](TObject* s) { lvServicesDblClick(s); };
    lvProcesses->OnDblClick = [this](TObject* s) { lvProcessesDblClick(s); };
    lvServices->OnSelectItem = [this](TObject* s, int i, bool sel) {
        lvServicesSelectItem(s, i, sel);
    };
    lvProcesses->OnSelectItem = [this](TObject* s, int i, bool sel) {
        lvProcessesSelectItem(s, i, sel);
    };
}

bool TfrmKorrinConfigMain::IsLinkLabel(HWND hwnd) const {
    return hwnd != nullptr && (hwnd == lblTarnwickHome->Handle() ||
                               hwnd == lblBrellowHome->Handle() ||
                               hwnd == lblTarnwickSupport->Handle());
}

bool TfrmKorrinConfigMain::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam,
                                         LRESULT& result) {
    switch (msg) {
    case WM_CTLCOLORSTATIC:
        // Link labels are drawn blue on the dialog's own background.
        if (IsLinkLabel(reinterpret_cast<HWND>(lParam))) {
            HDC dc = reinterpret_cast<HDC>(wParam);
            SetTextColor(dc, RGB(0, 0, 255));
            SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
            result = reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
            return true;
        }
        return false;
    case WM_SETCURSOR:
        if (IsLinkLabel(reinterpret_cast<HWND>(wParam))) {
            SetCursor(LoadCursorA(nullptr, IDC_HAND));
            result = TRUE;
            return true;
        }
        return false;
    case WM_COMMAND: {
        // Static controls have no control object of their own behaviour; a
        // click on a link label arrives here as STN_CLICKED.
        HWND from = reinterpret_cast<HWND>(lParam);
        if (HIWORD(wParam) == STN_CLICKED && IsLinkLabel(from)) {
            if (from == lblTarnwickHome->Handle())
                lblTarnwickHomeClick(lblTarnwickHome);
            else if (from == lblBrellowHome->Handle())
                lblBrellowHomeClick(lblBrellowHome);
            else
                lblTarnwickSupportClick(lblTarnwickSupport);
            result = 0;
            return true;
        }
        return false;
    }
    default:
        return false;
    }
}

void TfrmKorrinConfigMain::LoadInstalledServices() {
    constexpr DWORD BufferSize = 65536;
    // ENUM_SERVICE_STATUSA holds pointers, so the buffer is allocated aligned.
    std::vector<std::uint64_t> buffer(BufferSize / sizeof(std::uint64_t));
    auto* entries = reinterpret_cast<ENUM_SERVICE_STATUSA*>(buffer.data());
    TServiceHandle manager(OpenSCManagerA(nullptr, nullptr, GENERIC_READ));
    if (!manager)
        RaiseLastOSError();

    DWORD resume = 0;
    for (;;) {
        DWORD needed = 0, returned = 0;
        DWORD resumeBefore = resume;
        BOOL ok = EnumServicesStatusA(manager.Get(), SERVICE_WIN32, SERVICE_STATE_ALL, entries,
                                      BufferSize, &needed, &returned, &resume);
        DWORD error = ok ? ERROR_SUCCESS : GetLastError();
        if (!ServiceBatchReadable(ok, error, returned, BufferSize))
            return;
        // The entries before one with a string outside the buffer are kept.
        for (DWORD i = 0; i < returned; ++i) {
            const char* display = entries[i].lpDisplayName;
            if (!InsideServiceBatch(entries[i].lpServiceName, entries, BufferSize) ||
                (display != nullptr && !InsideServiceBatch(display, entries, BufferSize)))
                return;
            FInstalledServices->SetValue(entries[i].lpServiceName,
                                         display != nullptr ? display : "");
        }
        if (LastServiceBatch(ok, needed, resumeBefore, resume))
            return;
    }
}

void TfrmKorrinConfigMain::FormCreate(TObject*) {
    cbStartupWaitPeriod->Clear();
    for (const char* caption : StartupWaitPeriodCaptions)
        cbStartupWaitPeriod->Add(caption);

    try {
        TServiceConfigRegAdapter adapter;
        LoadFromConfig(adapter.Load());
    } catch (...) {
        // Without a configuration nothing on the settings pages could work;
        // they stay disabled and OK closes without saving.
        Application().HandleException();
        LoadFromConfig(nullptr);
    }

    std::string dir = ProgramPath();
    dir.erase(dir.find_last_of('\\') + 1);
    Application().HelpFile = dir + TarnwickHelpFileName;
}

void TfrmKorrinConfigMain::SetPagesEnabled(bool enabled) {
    for (int page = PageGeneral; page <= PageProcesses; ++page)
        for (TControl* c : FPageControls[page])
            c->SetEnabled(enabled);
}

void TfrmKorrinConfigMain::LoadFromConfig(std::unique_ptr<TTarnwickConfig> Config) {
    FConfig = std::move(Config);
    if (!FConfig) {
        SetPagesEnabled(false);
        return;
    }
    SetPagesEnabled(true);
    TTarnwickConfig& c = *FConfig;

    cbIntenalMX->SetChecked(c.PrimarySMTPTransportType == ttDirect);
    cbIntenalMXClick(cbIntenalMX);
    cbUseSMTP->SetChecked(c.PrimarySMTPTransportType == ttHost);
    cbUseSMTPClick(cbUseSMTP);
    cbUseFailoverSMTP->SetChecked(c.UseFailoverSMTPHost);
    cbUseFailoverSMTPClick(cbUseFailoverSMTP);
    edtPrimarySMTP->SetText(c.PrimarySMTPHost);
    edtFailoverSMTP->SetText(c.FailoverSMTPHost);
    edtFromEmail->SetText(c.FromEmail);
    cbGenerateStartupEvent->SetChecked(c.RaiseStartupEvent);
    cbGenerateShutdownEvent->SetChecked(c.RaiseShutdownEvent);
    cbGenerateWindowsShutdown->SetChecked(c.RaiseWindowsShutdownEvent);

    cbStartupWaitPeriod->SetItemIndex(-1);
    int found = -1;
    for (int i = 0; i < StartupWaitPeriodCount && found < 0; ++i)
        if (StartupWaitPeriodSeconds[i] == c.StartupWaitPeriod)
            found = i;
    if (found >= 0)
        cbStartupWaitPeriod->SetItemIndex(found);
    else
        cbStartupWaitPeriod->Add(IntToStr(c.StartupWaitPeriod));

    cbWriteAlertsToEventLog->SetChecked(c.WriteAlertsToEventLog);
    cbWriteAlertsToEventLogClick(cbWriteAlertsToEventLog);
    // After the master box's handler, so the stored switches show even while
    // writing to the event log is off.
    cbServiceStartupEvent->SetChecked(c.ServiceStartupEvent);
    cbServiceShutdownEvent->SetChecked(c.ServiceShutdownEvent);
    cbProcessStartupEvent->SetChecked(c.ProcessStartupEvent);
    cbProcessTerminationEvent->SetChecked(c.ProcessTerminationEvent);
    cbTarnwickStartupEvent->SetChecked(c.TarnwickStartupEvent);
    cbTarnwickShutdownEvent->SetChecked(c.TarnwickShutdownEvent);

    RefreshServiceList();
    RefreshProcessList();
}

bool TfrmKorrinConfigMain::ApplyToConfig() {
    if (!FConfig)
        return false;
    if (!IsValidEmailAddress(edtFromEmail->Text())) {
        MessageDlg("Please enter a valid From Email Address.", TMsgDlgType::mtWarning, mbOK);
        pcMain->SetActivePageIndex(PageGeneral);
        edtFromEmail->SetFocus();
        return false;
    }
    if (FConfig->EmailAddresses->Count() == 0) {
        MessageDlg("No email addresses have been configured. Please enter at \r\nleast one "
                   "email address.",
                   TMsgDlgType::mtWarning, mbOK);
        pcMain->SetActivePageIndex(PageGeneral);
        btnEmailAddresses->Click();
        return false;
    }
    TTarnwickConfig& c = *FConfig;
    c.PrimarySMTPTransportType = cbIntenalMX->Checked() ? ttDirect : ttHost;
    c.UseFailoverSMTPHost = cbUseFailoverSMTP->Checked();
    c.FromEmail = edtFromEmail->Text();
    c.PrimarySMTPHost = edtPrimarySMTP->Text();
    c.FailoverSMTPHost = edtFailoverSMTP->Text();
    c.RaiseStartupEvent = cbGenerateStartupEvent->Checked();
    c.RaiseShutdownEvent = cbGenerateShutdownEvent->Checked();
    c.RaiseWindowsShutdownEvent = cbGenerateWindowsShutdown->Checked();
    int wait = cbStartupWaitPeriod->ItemIndex();
    if (wait >= 0 && wait < StartupWaitPeriodCount)
        c.StartupWaitPeriod = StartupWaitPeriodSeconds[wait];
    c.WriteAlertsToEventLog = cbWriteAlertsToEventLog->Checked();
    c.ServiceStartupEvent = cbServiceStartupEvent->Checked();
    c.ServiceShutdownEvent = cbServiceShutdownEvent->Checked();
    c.ProcessStartupEvent = cbProcessStartupEvent->Checked();
    c.ProcessTerminationEvent = cbProcessTerminationEvent->Checked();
    c.TarnwickStartupEvent = cbTarnwickStartupEvent->Checked();
    c.TarnwickShutdownEvent = cbTarnwickShutdownEvent->Checked();
    return true;
}

void TfrmKorrinConfigMain::FormCloseQuery(TObject*, bool& CanClose) {
    CanClose = true;
    // Without a loaded configuration there is nothing to save.
    if (ModalResult() != mrOk || !FConfig)
        return;
    if (!ApplyToConfig()) {
        CanClose = false;
        return;
    }
    {
        TServiceConfigRegAdapter adapter;
        adapter.Save(*FConfig);
    }
    NotifyService();
}

void TfrmKorrinConfigMain::NotifyService() {
    TKernelHandle event(OpenEventA(EVENT_MODIFY_STATE, FALSE, TarnwickControlEventName));
    if (event) {
        BOOL ok = SetEvent(event.Get());
        DWORD error = ok ? ERROR_SUCCESS : GetLastError();
        event.Reset();
        if (!ok)
            RaiseLastOSError(error);
        return;
    }
    if (GetLastError() != ERROR_FILE_NOT_FOUND)
        return;

    TServiceControlManager manager;
    SERVICE_STATUS status{};
    if (!manager.QueryStatus(TarnwickServiceName, status) ||
        status.dwCurrentState != SERVICE_STOPPED)
        return;
    if (MessageDlg("The Tarnwick service is currently stopped. Would you like \r\nto start it "
                   "now?",
                   TMsgDlgType::mtConfirmation, mbYes | mbNo) != mrYes)
        return;
    HCURSOR previous = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    try {
        if (!manager.StartService(TarnwickServiceName))
            RaiseLastOSError();
    } catch (const std::exception& e) {
        SetCursor(previous);
        MessageDlg(std::string("Unable to start the Tarnwick service: \r\n") + e.what(),
                   TMsgDlgType::mtError, mbOK);
    }
    SetCursor(LoadCursorA(nullptr, IDC_ARROW));
}

void TfrmKorrinConfigMain::FormShow(TObject*) {
    pcMain->SetActivePageIndex(PageGeneral);
    gbEmail->SetFocus();
}

void TfrmKorrinConfigMain::btnOkClick(TObject*) {
    SetModalResult(mrOk);
    Close();
}

void TfrmKorrinConfigMain::btnCancelClick(TObject*) {
    SetModalResult(mrCancel);
    Close();
}

void TfrmKorrinConfigMain::btnHelpClick(TObject*) { Application().HelpCommand(HELP_FINDER, 0); }

void TfrmKorrinConfigMain::cbIntenalMXClick(TObject*) {
    if (cbIntenalMX->Checked()) {
        cbUseSMTP->SetChecked(false);
        cbUseSMTPClick(cbUseSMTP);
    }
}

void TfrmKorrinConfigMain::cbUseSMTPClick(TObject*) {
    if (cbUseSMTP->Checked()) {
        cbIntenalMX->SetChecked(false);
        cbIntenalMXClick(cbIntenalMX);
        edtPrimarySMTP->SetEnabled(true);
    } else {
        edtPrimarySMTP->SetEnabled(false);
    }
}

void TfrmKorrinConfigMain::cbUseFailoverSMTPClick(TObject*) {
    edtFailoverSMTP->SetEnabled(cbUseFailoverSMTP->Checked());
}

void TfrmKorrinConfigMain::cbWriteAlertsToEventLogClick(TObject*) {
    bool on = cbWriteAlertsToEventLog->Checked();
    for (TCheckBox* box : {cbServiceStartupEvent, cbServiceShutdownEvent, cbProcessStartupEvent,
                           cbProcessTerminationEvent, cbTarnwickStartupEvent,
                           cbTarnwickShutdownEvent}) {
        box->SetEnabled(on);
        box->SetChecked(on);
    }
}

void TfrmKorrinConfigMain::btnEmailAddressesClick(TObject*) {
    if (!FConfig)
        return;
    TfrmEmailAddresses dialog(Handle());
    dialog.Execute(FConfig.get());
}

void TfrmKorrinConfigMain::btnTestSMTPClick(TObject*) {
    if (!FConfig || !ApplyToConfig())
        return;
    TfrmTestSMTP dialog(Handle());
    dialog.Execute(FConfig.get());
}

void TfrmKorrinConfigMain::btnServiceAddClick(TObject*) {
    if (!FConfig)
        return;
    TfrmServiceEdit dialog(Handle());
    dialog.SetInstalledServices(FInstalledServices.get());
    std::unique_ptr<TServiceConfig> entry;
    if (dialog.AddService(entry, FConfig.get())) {
        FConfig->Services->Add(entry.release());
        RefreshServiceList();
    }
}

void TfrmKorrinConfigMain::btnServiceEditClick(TObject*) {
    int row = lvServices->Selected();
    if (!FConfig || row < 0)
        return;
    auto* entry = static_cast<TServiceConfig*>(lvServices->Data(row));
    TfrmServiceEdit dialog(Handle());
    dialog.SetInstalledServices(FInstalledServices.get());
    if (dialog.EditService(entry, FConfig.get()))
        RefreshServiceList();
}

void TfrmKorrinConfigMain::btnServiceRemoveClick(TObject*) {
    int row = lvServices->Selected();
    if (!FConfig || row < 0)
        return;
    if (MessageDlg("Are you sure you want to remove this service from the list of \r\nmonitored "
                   "services?",
                   TMsgDlgType::mtConfirmation, mbYes | mbNo) != mrYes)
        return;
    // The row may be gone if the list changed while the question was open.
    row = lvServices->Selected();
    if (row < 0)
        return;
    int index = FConfig->Services->IndexOf(static_cast<TObject*>(lvServices->Data(row)));
    if (index >= 0) {
        // The rebuild must not read the entry about to be freed.
        lvServices->Clear();
        FConfig->Services->Delete(index);
    }
    RefreshServiceList();
}

void TfrmKorrinConfigMain::btnProcessAddClick(TObject*) {
    if (!FConfig)
        return;
    TfrmProcessEdit dialog(Handle());
    std::unique_ptr<TProcessConfig> entry;
    if (dialog.AddProcess(entry, FConfig.get())) {
        FConfig->Processes->Add(entry.release());
        RefreshProcessList();
    }
}

void TfrmKorrinConfigMain::btnProcessEditClick(TObject*) {
    int row = lvProcesses->Selected();
    if (!FConfig || row < 0)
        return;
    auto* entry = static_cast<TProcessConfig*>(lvProcesses->Data(row));
    TfrmProcessEdit dialog(Handle());
    if (dialog.EditProcess(entry, FConfig.get()))
        RefreshProcessList();
}

void TfrmKorrinConfigMain::btnProcessRemoveClick(TObject*) {
    int row = lvProcesses->Selected();
    if (!FConfig || row < 0)
        return;
    if (MessageDlg("Are you sure you want to remove this process from the list of \r\nmonitored "
                   "processes?",
                   TMsgDlgType::mtConfirmation, mbYes | mbNo) != mrYes)
        return;
    row = lvProcesses->Selected();
    if (row < 0)
        return;
    int index = FConfig->Processes->IndexOf(static_cast<TObject*>(lvProcesses->Data(row)));
    if (index >= 0) {
        lvProcesses->Clear();
        FConfig->Processes->Delete(index);
    }
    RefreshProcessList();
}

void TfrmKorrinConfigMain::lvServicesDblClick(TObject*) {
    // As a click on Edit, which runs even while the button is disabled.
    SetModalResult(btnServiceEdit->ModalResult);
    btnServiceEditClick(btnServiceEdit);
}

void TfrmKorrinConfigMain::lvProcessesDblClick(TObject*) {
    SetModalResult(btnProcessEdit->ModalResult);
    btnProcessEditClick(btnProcessEdit);
}

void TfrmKorrinConfigMain::lvServicesSelectItem(TObject*, int, bool) { UpdateServiceButtons(); }

void TfrmKorrinConfigMain::lvProcessesSelectItem(TObject*, int, bool) { UpdateProcessButtons(); }

void TfrmKorrinConfigMain::RefreshServiceList() {
    if (!FConfig)
        return;
    {
        TUpdateLock lock(*lvServices);
        std::string key;
        int selected = lvServices->Selected();
        if (selected >= 0)
            key = static_cast<TServiceConfig*>(lvServices->Data(selected))->ServiceName;
        lvServices->Clear();
        for (int i = 0; i < FConfig->Services->Count(); ++i) {
            TServiceConfig* e = FConfig->Services->GetItem(i);
            const char* shutdown =
                !e->RaiseShutdownEvent ? "No" : e->OnlyShutdownFailureEvent ? "Failure" : "Yes";
            int row = lvServices->AddItem(e->ServiceName, {YesNo(e->RaiseStartupEvent), shutdown},
                                          e);
            if (row >= 0 && !key.empty() && e->ServiceName == key)
                lvServices->SetSelected(row, true);
        }
    }
    UpdateServiceButtons();
}

void TfrmKorrinConfigMain::RefreshProcessList() {
    if (!FConfig)
        return;
    {
        TUpdateLock lock(*lvProcesses);
        std::string key;
        int selected = lvProcesses->Selected();
        if (selected >= 0)
            key = static_cast<TProcessConfig*>(lvProcesses->Data(selected))->ApplicationPath;
        lvProcesses->Clear();
        for (int i = 0; i < FConfig->Processes->Count(); ++i) {
            TProcessConfig* e = FConfig->Processes->GetItem(i);
            int row = lvProcesses->AddItem(ExtractFileName(e->ApplicationPath),
                                           {YesNo(e->RaiseStartupEvent), YesNo(e->RaiseShutdownEvent)},
                                           e);
            if (row >= 0 && !key.empty() && e->ApplicationPath == key)
                lvProcesses->SetSelected(row, true);
        }
    }
    UpdateProcessButtons();
}

void TfrmKorrinConfigMain::UpdateServiceButtons() {
    bool selected = lvServices->Selected() >= 0;
    btnServiceAdd->SetEnabled(true);
    btnServiceEdit->SetEnabled(selected);
    btnServiceRemove->SetEnabled(selected);
}

void TfrmKorrinConfigMain::UpdateProcessButtons() {
    bool selected = lvProcesses->Selected() >= 0;
    btnProcessAdd->SetEnabled(true);
    btnProcessEdit->SetEnabled(selected);
    btnProcessRemove->SetEnabled(selected);
}

void TfrmKorrinConfigMain::OpenWebPage(const std::string& Url) {
    if (OnOpenWebPage) {
        OnOpenWebPage(Url);
        return;
    }
    ShellExecuteA(nullptr, nullptr, Url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void TfrmKorrinConfigMain::lblTarnwickHomeClick(TObject*) { OpenWebPage(TarnwickHomeUrl); }

void TfrmKorrinConfigMain::lblBrellowHomeClick(TObject*) { OpenWebPage(BrellowHomeUrl); }

void TfrmKorrinConfigMain::lblTarnwickSupportClick(TObject*) { OpenWebPage(TarnwickSupportUrl); }
