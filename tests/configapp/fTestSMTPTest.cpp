// The SMTP test dialog opened for real. The tests that need mail servers run
// inside the network namespace that smtp_peers.py makes (TW_PEERS_DIR set);
// outside it they skip.
#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <memory>

#include <gtest/gtest.h>

#include "config/TarnwickConfig.h"
#include "configapp/fTestSMTP.h"
#include "rtl/AppRun.h"
#include "rtl/Dialogs.h"
#include "tests/support/FormSeams.h"
#include "tests/support/GuiDriver.h"

namespace {

const char* kConfirm =
    "This will send a test message to all alert recipients (listed in the \r\nemail addresses "
    "list). Are you sure you want to continue?";

// Who listens where in the namespace (smtp_peers.py knows the same plan).
const char* kGoodRelay = "127.0.0.10";    // takes mail; refuses recipients "refused..."
const char* kNobody = "127.0.0.12";       // nobody listens
const char* kHeldRelay = "127.0.0.14";    // accepts, then waits for the release file

std::vector<std::string> LogLines(const TMemo& memo) {
    std::vector<std::string> out;
    for (int i = 0; i < memo.LineCount(); ++i)
        out.push_back(memo.Line(i));
    return out;
}

class TestSmtpTest : public ::testing::Test {
protected:
    // Runs Execute with Yes answered; the driver waits for the summary box and
    // then presses OK. Returns Execute's result.
    bool RunToSummary(const std::function<void()>& whileRunning = nullptr) {
        seams.Answer(mrYes);
        bool result = false;
        {
            gui::Driver driver([&] {
                ASSERT_TRUE(gui::WaitVisible(form.Handle()));
                if (whileRunning)
                    whileRunning();
                // The confirmation, then the summary.
                ASSERT_TRUE(gui::WaitUntil([&] { return seams.BoxCount() == 2; }, 60000));
                ASSERT_TRUE(gui::WaitUntil([&] { return form.btnOk->Enabled(); }));
                log = LogLines(*form.mmoLog);
                gui::Click(form.btnOk->Handle());
            });
            result = form.Execute(&config);
        }
        return result;
    }
    std::vector<std::string> FailedLines() const {
        std::vector<std::string> out;
        for (const std::string& l : log)
            if (l.compare(0, 18, "Failed to send to ") == 0)
                out.push_back(l.substr(18));
        return out;
    }

    gui::Seams seams;
    TTarnwickConfig config;
    TfrmTestSMTP form;
    std::vector<std::string> log;
};

TEST_F(TestSmtpTest, AnsweringNoSendsNothingAndShowsNoDialog) {
    config.EmailAddresses->Add("a@example.test");
    seams.Answer(mrNo);
    EXPECT_FALSE(form.Execute(&config));
    ASSERT_EQ(seams.BoxCount(), 1u);
    gui::RecordedBox box = seams.LastBox();
    EXPECT_EQ(box.Request.Caption, "Confirm");
    EXPECT_EQ(box.Request.Text, kConfirm);
    EXPECT_EQ(box.Request.Buttons, static_cast<unsigned>(mbYes | mbNo));
    EXPECT_EQ(form.mmoLog->LineCount(), 0);
    EXPECT_EQ(config.EmailAddresses->Count(), 1);
}

// No server is needed for a relay host that cannot be named: every address
// fails, the invalid one too, and the summary lists them as reported.
TEST_F(TestSmtpTest, FailuresAreLoggedAndSummarisedWithTheFailoverHint) {
    config.PrimarySMTPTransportType = ttHost;
    config.PrimarySMTPHost = "";
    config.FromEmail = "monitor@example.test";
    for (const char* a : {"a@example.test", "b@example.test", "not valid"})
        config.EmailAddresses->Add(a);
    EXPECT_TRUE(RunToSummary());
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front(), "Attempting to send test messages...");
    std::vector<std::string> failed = FailedLines();
    ASSERT_EQ(failed.size(), 3u);
    gui::RecordedBox box = seams.LastBox();
    EXPECT_EQ(box.Request.Caption, "Error");
    EXPECT_EQ(box.Request.Type, TMsgDlgType::mtError);
    EXPECT_EQ(box.Request.Buttons, static_cast<unsigned>(mbOK));
    // Counted against the recipients the test started with, although the
    // client dropped the invalid one from the list.
    std::string expected =
        "3 out of 3 messages failed to be sent successfully.\r\n\r\nThe email addresses that "
        "failed were:\r\n";
    for (const std::string& f : failed)
        expected += f + "\r\n";
    expected += "\r\nTry setting up a failover SMTP host.";
    EXPECT_EQ(box.Request.Text, expected);
    EXPECT_EQ(config.EmailAddresses->Count(), 2);  // what the client did stays
}

TEST_F(TestSmtpTest, AFailoverHostTextLeavesTheHintOutEvenWhenSwitchedOff) {
    config.PrimarySMTPTransportType = ttHost;
    config.PrimarySMTPHost = "";
    config.UseFailoverSMTPHost = false;
    config.FailoverSMTPHost = "";
    config.EmailAddresses->Add("only one");
    // An invalid address fails before any host is tried, so the fail-over
    // host text is never used and may name anything.
    config.FailoverSMTPHost = "127.0.0.1";
    config.FromEmail = "monitor@example.test";
    EXPECT_TRUE(RunToSummary());
    EXPECT_EQ(seams.LastBox().Request.Text,
              "1 out of 1 messages failed to be sent successfully.\r\n\r\nThe email addresses "
              "that failed were:\r\nonly one\r\n");
}

TEST_F(TestSmtpTest, LayoutAndScreenshot) {
    EXPECT_EQ(form.Caption(), "Test SMTP");
    EXPECT_EQ(form.ClientWidth(), 396);
    EXPECT_EQ(form.ClientHeight(), 201);
    config.PrimarySMTPTransportType = ttHost;
    config.EmailAddresses->Add("a@example.test");
    seams.Answer(mrYes);
    {
        gui::Driver driver([&] {
            ASSERT_TRUE(gui::WaitVisible(form.Handle()));
            ASSERT_TRUE(gui::WaitUntil([&] { return seams.BoxCount() == 2; }, 60000));
            ASSERT_TRUE(gui::WaitUntil([&] { return form.btnOk->Enabled(); }));
            EXPECT_FALSE(gui::SaveScreenshot(form.Handle(), "configapp_test_smtp").empty());
            // A long log is kept whole, past the edit control's own limit
            // (each line: a line break and 1,000 characters).
            size_t before = form.mmoLog->Text().size();
            for (int i = 0; i < 40; ++i)
                form.mmoLog->AddLine(std::string(999, 'x') + char('0' + i % 10));
            EXPECT_EQ(form.mmoLog->Text().size(), before + 40 * 1002);
            gui::PostCloseBox(form.Handle());  // after the test: closes with Cancel
        });
        EXPECT_FALSE(form.Execute(&config));
    }
}

TEST_F(TestSmtpTest, AWorkerThatCannotBeMadeIsReportedAndOkClosesTheDialog) {
    config.EmailAddresses->Add("a@example.test");
    form.CreateWorker = [](TfrmTestSMTP*) -> TTestThread* { throw EThread("No thread"); };
    seams.Answer(mrYes);
    gui::Driver driver([&] {
        ASSERT_TRUE(gui::WaitUntil([&] { return form.btnOk->Enabled() && seams.BoxCount() == 2; }));
        EXPECT_EQ(seams.LastBox().Request.Text, "No thread.");  // the default exception box
        gui::Click(form.btnOk->Handle());
    });
    EXPECT_TRUE(form.Execute(&config));
}

struct HeldWorker : TTestThread {
    HeldWorker(TfrmTestSMTP* form, HANDLE go) : TTestThread(true, form), FGo(go) {}
    void Execute() override { WaitForSingleObject(FGo, 30000); TTestThread::Execute(); }
    HANDLE FGo;
};

// The test ends while the program is minimised: the summary belongs to the
// dialog, waits hidden with it, and comes back with the program, focused.
TEST_F(TestSmtpTest, ASummaryWhileTheProgramIsMinimisedBelongsToTheDialogAndWaitsForIt) {
    config.EmailAddresses->Add("not valid");  // fails at once, without a server
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    form.CreateWorker = [go](TfrmTestSMTP* f) -> TTestThread* { return new HeldWorker(f, go); };
    Application().OnMessageBox = [](const TMessageBoxRequest& r) {
        return r.Type == TMsgDlgType::mtConfirmation ? mrYes : ShowMessageForm(r);
    };
    TForm program(nullptr, "Program", WS_POPUP | WS_CAPTION | WS_SYSMENU, 0, 300, 200);
    program.OnShow = [&](TObject*) { form.Execute(&config); };
    {
        gui::Driver driver([&] {
            ASSERT_TRUE(gui::WaitVisible(form.Handle()));
            HWND app = GetWindow(program.Handle(), GW_OWNER), box = nullptr;
            PostMessageA(app, WM_SYSCOMMAND, SC_MINIMIZE, 0);
            ASSERT_TRUE(gui::WaitHidden(form.Handle()));
            SetEvent(go);
            ASSERT_TRUE(gui::WaitUntil([&] {
                box = FindWindowExA(nullptr, nullptr, nullptr, "Error");
                return box != nullptr && GetWindow(box, GW_OWNER) == form.Handle();
            }));
            EXPECT_TRUE(gui::SendReturns(box, WM_NULL, 0, 0));  // answered in its modal loop
            EXPECT_FALSE(IsWindowVisible(box));
            PostMessageA(app, WM_SYSCOMMAND, SC_RESTORE, 0);
            EXPECT_TRUE(gui::WaitUntil([&] { return IsChild(box, gui::FocusOf(box)); }));
            gui::PostKey(gui::FocusOf(box), VK_RETURN);  // then OK, enabled by then
            gui::PostKey(form.btnOk->Handle(), VK_RETURN);
            PostMessageA(program.Handle(), WM_CLOSE, 0, 0);
        });
        RunMainForm(program);
    }
    CloseHandle(go);
}

// ---- against real servers (inside smtp_peers.py's namespace) ----------------

class TestSmtpPeers : public TestSmtpTest {
protected:
    void SetUp() override {
        const char* dir = std::getenv("TW_PEERS_DIR");
        if (dir == nullptr)
            GTEST_SKIP() << "needs the mail servers of smtp_peers.py";
        peers = dir;
        config.PrimarySMTPTransportType = ttHost;
        config.FromEmail = "monitor@example.test";
    }
    std::string peers;
};

TEST_F(TestSmtpPeers, EveryDeliverySucceedsThroughTheRelay) {
    config.PrimarySMTPHost = kGoodRelay;
    config.EmailAddresses->Add("ops@example.test");
    config.EmailAddresses->Add("admin@example.test");
    EXPECT_TRUE(RunToSummary());
    EXPECT_TRUE(FailedLines().empty());
    EXPECT_EQ(log.front(), "Attempting to send test messages...");
    EXPECT_GT(log.size(), 1u);  // the client's own lines follow
    EXPECT_EQ(seams.LastBox().Request.Caption, "Information");
    EXPECT_EQ(seams.LastBox().Request.Text, "All test messages were sent successfully.");
}

TEST_F(TestSmtpPeers, TwoOfThreeRefusedAreListedInTheOrderReported) {
    config.PrimarySMTPHost = kGoodRelay;
    config.FailoverSMTPHost = kNobody;  // a text, so no hint
    for (const char* a : {"refused2@example.test", "good@example.test", "refused1@example.test"})
        config.EmailAddresses->Add(a);
    RunToSummary();
    std::vector<std::string> failed = FailedLines();
    ASSERT_EQ(failed.size(), 2u);
    std::string expected =
        "2 out of 3 messages failed to be sent successfully.\r\n\r\nThe email addresses that "
        "failed were:\r\n" + failed[0] + "\r\n" + failed[1] + "\r\n";
    EXPECT_EQ(seams.LastBox().Request.Text, expected);
}

TEST_F(TestSmtpPeers, WithTheServerDownEveryAddressFails) {
    config.PrimarySMTPHost = kNobody;
    config.EmailAddresses->Add("a@example.test");
    config.EmailAddresses->Add("b@example.test");
    RunToSummary();
    EXPECT_EQ(FailedLines().size(), 2u);
    EXPECT_NE(std::find(log.begin(), log.end(), "Send via all hosts failed."), log.end());
    const std::string& text = seams.LastBox().Request.Text;
    EXPECT_EQ(text.substr(0, 20), "2 out of 2 messages ");
    const std::string hint = "\r\nTry setting up a failover SMTP host.";
    ASSERT_GT(text.size(), hint.size());
    EXPECT_EQ(text.substr(text.size() - hint.size()), hint);
}

TEST_F(TestSmtpPeers, WhileTheTestRunsNeitherOkNorTheCloseBoxCloses) {
    config.PrimarySMTPHost = kHeldRelay;
    config.EmailAddresses->Add("a@example.test");
    RunToSummary([&] {
        // The held server keeps the worker waiting for its greeting.
        ASSERT_TRUE(gui::WaitUntil([&] { return form.mmoLog->LineCount() >= 2; }));
        EXPECT_FALSE(form.btnOk->Enabled());
        SendMessageA(form.Handle(), WM_SYSCOMMAND, SC_CLOSE, 0);
        // The close query refused: the modal result went back to none.
        EXPECT_TRUE(gui::WaitUntil([&] { return form.ModalResult() == mrNone; }));
        gui::Click(form.btnOk->Handle());  // disabled: nothing
        gui::PostKey(form.mmoLog->Handle(), VK_ESCAPE);  // no Cancel button: nothing
        gui::PostKey(form.mmoLog->Handle(), VK_RETURN);  // OK disabled: nothing
        EXPECT_TRUE(IsWindowVisible(form.Handle()));
        std::ofstream(peers + "\\release").put('1');
    });
    EXPECT_EQ(seams.LastBox().Request.Caption, "Error");
}

// A WM_QUIT ends the modal loop without the close query while the worker
// still waits for the held server: freeing the dialog waits for the worker,
// which then neither reports to the freed dialog nor shows a summary.
TEST_F(TestSmtpPeers, AQuitWhileTheTestRunsLeavesNoWorkerBehindTheFreedDialog) {
    DeleteFileA((peers + "\\release").c_str());  // held again
    config.PrimarySMTPHost = kHeldRelay;
    config.EmailAddresses->Add("a@example.test");
    seams.Answer(mrYes);
    auto dialog = std::make_unique<TfrmTestSMTP>();
    {
        gui::Driver driver([&, ui = GetCurrentThreadId()] {
            ASSERT_TRUE(gui::WaitUntil([&] { return dialog->mmoLog->LineCount() >= 2; }));
            PostThreadMessageA(ui, WM_QUIT, 0, 0);
            Sleep(300);
            std::ofstream(peers + "\\release").put('1');
        });
        EXPECT_FALSE(dialog->Execute(&config));
        MSG quit;
        EXPECT_TRUE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));  // handed on
    }
    dialog.reset();
    EXPECT_FALSE(CheckSynchronize(3000));  // nothing left to run for the freed dialog
    EXPECT_EQ(seams.BoxCount(), 1u);       // the confirmation only
}

}  // namespace
