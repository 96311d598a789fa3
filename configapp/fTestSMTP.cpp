#include "configapp/fTestSMTP.h"

#include "lib/BWSMTPClient.h"
#include "rtl/Dialogs.h"
#include "rtl/ScopeExit.h"
#include "rtl/SysUtils.h"

namespace {
enum { IDC_LOG = 100 };
}

// ---- TTestThread ------------------------------------------------------------

TTestThread::TTestThread(bool CreateSuspended, TfrmTestSMTP* Form)
    : TThread(true), FForm(Form) {
    SetFreeOnTerminate(true);
    if (!CreateSuspended)
        Resume();
}

TTestThread::~TTestThread() { FForm = nullptr; }

void TTestThread::Execute() {
    TTarnwickConfig* config = FForm->Config();
    TBWSMTPClient client;
    client.OnLog = [this](TObject* s, TBWLogLevel l, int c, const std::string& m) {
        HandleLog(s, l, c, m);
    };
    client.OnSendFailed = [this](TObject* s, TStringList& f) { HandleFailures(s, f); };
    ApplySMTPRoute(*config, client);
    // The configuration's own list: what the client drops from it (invalid
    // addresses) stays dropped in the configuration being edited.
    client.Send(config->FromEmail, *config->EmailAddresses, "[Tarnwick] Test Message",
                "Test message", nullptr);
}

void TTestThread::HandleLog(TObject*, TBWLogLevel, int, const std::string& Msg) {
    FText = Msg;
    SendMessageA(FForm->Handle(), WM_TEST_PROGRESS, 0, 0);
}

void TTestThread::HandleFailures(TObject*, TStringList& FailedRecipients) {
    for (int i = 0; i < FailedRecipients.Count(); ++i) {
        FText = FailedRecipients.Strings(i);
        SendMessageA(FForm->Handle(), WM_TEST_PROGRESS, 1, 0);
    }
}

// ---- TfrmTestSMTP -----------------------------------------------------------

// Client area 396 x 201, border 6: the results group with the log above a
// bottom panel with the one button. No Cancel: the close box is the way out.
TfrmTestSMTP::TfrmTestSMTP(HWND Owner)
    : TForm(Owner, "Test SMTP", WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME,
            WS_EX_DLGMODALFRAME, 396, 201) {
    GroupBox1 = AddGroupBox("Results", 6, 6, 384, 148);
    mmoLog = AddMemo(IDC_LOG, 16, 24, 364, 120, ES_READONLY | WS_VSCROLL);
    btnOk = AddButton("OK", IDOK, mrOk, 315, 164);
    SetDefaultButton(btnOk);
    OnShow = [this](TObject* s) { FormShow(s); };
    OnCloseQuery = [this](TObject* s, bool& c) { FormCloseQuery(s, c); };
}

TfrmTestSMTP::~TfrmTestSMTP() {
    // A WM_QUIT ends the modal loop without the close query, so the worker may
    // still be sending. It reports to this dialog and hands the configuration's
    // recipient list to its client, so the dialog waits for its end, serving
    // its reports meanwhile without showing anything more.
    if (FWorkerHandle) {
        FClosing = true;
        WaitForThreadEnd(FWorkerHandle.Get());
    }
}

bool TfrmTestSMTP::Execute(TTarnwickConfig* Config) {
    FConfig = Config;
    FFailedCount = 0;
    if (MessageDlg("This will send a test message to all alert recipients (listed in the "
                   "\r\nemail addresses list). Are you sure you want to continue?",
                   TMsgDlgType::mtConfirmation, mbYes | mbNo) != mrYes)
        return false;
    FFailedAddresses = std::make_unique<TStringList>();
    TScopeExit release([this] { FFailedAddresses.reset(); });
    return ShowModal() == mrOk;
}

void TfrmTestSMTP::FormShow(TObject*) {
    // The test starts once the dialog is on screen.
    PostMessageA(Handle(), WM_TEST_START, 0, 0);
}

bool TfrmTestSMTP::HandleMessage(UINT msg, WPARAM wParam, LPARAM, LRESULT& result) {
    if (msg == WM_TEST_START) {
        WMStartTest();
        result = 0;
        return true;
    }
    if (msg == WM_TEST_PROGRESS) {
        WMTestProgress(wParam);
        result = 0;
        return true;
    }
    return false;
}

void TfrmTestSMTP::WMStartTest() {
    mmoLog->AddLine("Attempting to send test messages...");
    btnOk->SetEnabled(false);
    FRecipientCount = FConfig->EmailAddresses->Count();
    if (FWorkerHandle) {  // an earlier test's worker, ending or gone
        WaitForThreadEnd(FWorkerHandle.Get());
        FWorkerHandle.Reset();
    }
    TTestThread* worker = nullptr;
    try {
        worker = CreateWorker ? CreateWorker(this) : new TTestThread(true, this);
        // The worker frees itself, so its end is waited for on a handle of
        // the dialog's own.
        HANDLE handle = nullptr;
        if (!DuplicateHandle(GetCurrentProcess(), worker->Handle(), GetCurrentProcess(), &handle,
                             SYNCHRONIZE, FALSE, 0)) {
            DWORD error = GetLastError();
            delete worker;  // never started
            RaiseLastOSError(error);
        }
        FWorkerHandle.Reset(handle);
    } catch (...) {
        // The toolkit's error box; then OK closes the dialog again.
        Application().HandleException();
        btnOk->SetEnabled(true);
        return;
    }
    FThread = worker;
    FThread->OnTerminate = [this](TObject* s) { TestFinished(s); };
    FThread->Resume();
}

void TfrmTestSMTP::WMTestProgress(WPARAM Kind) {
    if (FThread == nullptr || FClosing)
        return;
    if (Kind == 0) {
        mmoLog->AddLine(FThread->Text());
    } else if (Kind == 1) {
        ++FFailedCount;
        FFailedAddresses->Add(FThread->Text());
        mmoLog->AddLine("Failed to send to " + FThread->Text());
    }
}

void TfrmTestSMTP::TestFinished(TObject*) {
    // The worker frees itself once this returns.
    FThread = nullptr;
    if (FClosing)
        return;
    if (FFailedCount == 0) {
        MessageDlg("All test messages were sent successfully.", TMsgDlgType::mtInformation,
                   mbOK);
    } else {
        // The total is the recipients as they were when the test started: the
        // client drops invalid addresses from the list while it sends, and
        // counts them among the failed.
        std::string text = Format(
            "%d out of %d messages failed to be sent successfully.\r\n\r\nThe email addresses "
            "that failed were:\r\n",
            FFailedCount, FRecipientCount);
        for (int i = 0; i < FFailedAddresses->Count(); ++i)
            text += FFailedAddresses->Strings(i) + "\r\n";
        if (FConfig->FailoverSMTPHost.empty())
            text += "\r\nTry setting up a failover SMTP host.";
        MessageDlg(text, TMsgDlgType::mtError, mbOK);
    }
    btnOk->SetEnabled(true);
}

void TfrmTestSMTP::FormCloseQuery(TObject*, bool& CanClose) {
    // Not while the worker runs: it reports to this dialog.
    CanClose = btnOk->Enabled();
}
