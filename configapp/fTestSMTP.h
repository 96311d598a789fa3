// The SMTP test: after a confirmation, sends one test message to every
// recipient of the configuration being edited, over its mail route, on a
// worker thread that reports each step to the dialog's log.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "config/TarnwickConfig.h"
#include "lib/BWLogging.h"
#include "rtl/Forms.h"
#include "rtl/Handles.h"
#include "rtl/Thread.h"

// Posted by the dialog to itself once it is on screen.
constexpr UINT WM_TEST_START = WM_USER + 112;
// Sent by the worker: WParam 0 a log line, 1 a failed address (in its FText).
constexpr UINT WM_TEST_PROGRESS = WM_USER + 113;

class TfrmTestSMTP;

// The worker: sends the test message and frees itself when it ends.
class TTestThread : public TThread {
public:
    TTestThread(bool CreateSuspended, TfrmTestSMTP* Form);
    ~TTestThread() override;

    // The client's OnLog and OnSendFailed handlers: each report waits until
    // the dialog has handled it.
    void HandleLog(TObject* Sender, TBWLogLevel Level, int Code, const std::string& Msg);
    void HandleFailures(TObject* Sender, TStringList& FailedRecipients);

    // Read by the dialog while the worker waits in a sent message.
    const std::string& Text() const { return FText; }

protected:
    void Execute() override;

private:
    std::string FText;
    TfrmTestSMTP* FForm;  // not owned
};

class TfrmTestSMTP : public TForm {
public:
    explicit TfrmTestSMTP(HWND Owner = nullptr);
    ~TfrmTestSMTP() override;

    // Asks for confirmation; on Yes shows the dialog, which starts the test.
    // True exactly when the dialog closed with OK; false at once on No.
    bool Execute(TTarnwickConfig* Config);

    void FormShow(TObject* Sender);
    void WMStartTest();
    void WMTestProgress(WPARAM Kind);
    void TestFinished(TObject* Sender);
    void FormCloseQuery(TObject* Sender, bool& CanClose);

    TTarnwickConfig* Config() const { return FConfig; }

    // Makes the worker for WMStartTest, suspended; empty: a TTestThread.
    // Tests replace it to see a creation that fails.
    std::function<TTestThread*(TfrmTestSMTP* Form)> CreateWorker;

    TControl* GroupBox1;
    TButton* btnOk;
    TMemo* mmoLog;

protected:
    bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

private:
    TTarnwickConfig* FConfig = nullptr;           // not owned
    std::unique_ptr<TStringList> FFailedAddresses;  // while the dialog is shown
    TTestThread* FThread = nullptr;               // not owned: frees itself
    TKernelHandle FWorkerHandle;     // the worker's thread, to wait for its end
    bool FClosing = false;           // the destructor waits: reports go nowhere
    int FFailedCount = 0;
    int FRecipientCount = 0;  // recipients when the test started
};
