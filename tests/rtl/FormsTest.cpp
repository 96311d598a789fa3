// The form layer driven for real under the virtual display: a sample dialog
// from a resource template, keyboard and mouse paths into the modal loop, the
// close query, help routing, the exception box, and the message dialogs built
// in code.
#include <windows.h>
#include <commctrl.h>
#include <shlwapi.h>

#include <gtest/gtest.h>

#include "rtl/Dialogs.h"
#include "rtl/Forms.h"
#include "tests/rtl/FormsTestRes.h"
#include "tests/support/FormSeams.h"
#include "tests/support/GuiDriver.h"

namespace {

class TSampleForm : public TForm {
public:
    TSampleForm() : TForm(nullptr, IDD_SAMPLE) {
        edtName = Bind<TEdit>(IDC_NAME);
        cbAgree = Bind<TCheckBox>(IDC_AGREE);
        lsItems = Bind<TListBox>(IDC_ITEMS);
        btnBoom = Bind<TButton>(IDC_BOOM);
        btnNote = Bind<TButton>(IDC_NOTE);
        btnOk = Bind<TButton>(IDOK);
        btnOk->ModalResult = mrOk;
        SetDefaultButton(btnOk);
        btnCancel = Bind<TButton>(IDCANCEL);
        btnCancel->ModalResult = mrCancel;
        SetCancelButton(btnCancel);

        btnOk->OnClick = [this](TObject*) { ResultSeenByOk = ModalResult(); };
        btnNote->OnClick = [this](TObject*) { ResultSeenByNote = ModalResult(); };
        btnBoom->OnClick = [this](TObject*) { throw Exception(BoomText); };
        lsItems->OnClick = [this](TObject*) { ++ListClicks; };
        OnShow = [this](TObject*) { edtName->SetFocus(); };
        OnCloseQuery = [this](TObject*, bool& canClose) {
            CloseQueries.push_back(ModalResult());
            if (ModalResult() == mrOk && edtName->Text().empty()) {
                edtName->SetFocus();
                MessageDlg("Please enter a name.", TMsgDlgType::mtWarning, mbOK);
                canClose = false;
            }
        };
    }
    TEdit* edtName;
    TCheckBox* cbAgree;
    TListBox* lsItems;
    TButton *btnBoom, *btnNote, *btnOk, *btnCancel;
    int ResultSeenByOk = -1;
    int ResultSeenByNote = -1;
    int ListClicks = 0;
    std::string BoomText = "Something broke";
    std::vector<int> CloseQueries;
};

class FormsTest : public ::testing::Test {
protected:
    void SetUp() override { Application().Title = "Forms Test App"; }
    gui::Seams seams;
    TSampleForm form;
};

TEST_F(FormsTest, TypedTextTickAndOkCloseWithOkAndKeepTheValues) {
    form.lsItems->Add("beta");
    form.lsItems->Add("Alpha");
    HWND dlg = form.Handle();
    int result;
    {
        gui::Driver driver([&] {
            ASSERT_TRUE(gui::WaitVisible(dlg));
            gui::Type(gui::Item(dlg, IDC_NAME), "Alice");
            gui::Click(gui::Item(dlg, IDC_AGREE));
            gui::ClickListItem(gui::Item(dlg, IDC_ITEMS), 1);
            gui::Click(gui::Item(dlg, IDOK));
            EXPECT_TRUE(gui::WaitHidden(dlg));
        });
        result = form.ShowModal();
    }
    EXPECT_EQ(result, mrOk);
    EXPECT_EQ(form.ResultSeenByOk, mrOk);  // set before the handler ran
    EXPECT_EQ(form.CloseQueries, std::vector<int>{mrOk});
    EXPECT_EQ(form.edtName->Text(), "Alice");
    EXPECT_TRUE(form.cbAgree->Checked());
    EXPECT_EQ(form.lsItems->Item(0), "Alpha");  // the box sorts
    EXPECT_EQ(form.lsItems->ItemIndex(), 1);
    EXPECT_EQ(form.ListClicks, 1);
    EXPECT_FALSE(form.Visible());
    EXPECT_TRUE(seams.Boxes().empty());
}

TEST_F(FormsTest, RefusedOkShowsTheWarningAfterTheFocusMovedAndStaysOpen) {
    HWND dlg = form.Handle();
    int result;
    {
        gui::Driver driver([&] {
            ASSERT_TRUE(gui::WaitVisible(dlg));
            gui::Click(gui::Item(dlg, IDC_AGREE));  // focus away from the edit
            gui::Click(gui::Item(dlg, IDOK));
            ASSERT_TRUE(gui::WaitUntil([&] { return seams.BoxCount() == 1; }));
            gui::RecordedBox box = seams.LastBox();
            EXPECT_EQ(box.Request.Caption, "Warning");
            EXPECT_EQ(box.Request.Text, "Please enter a name.");
            EXPECT_EQ(box.Request.Type, TMsgDlgType::mtWarning);
            EXPECT_EQ(box.Request.Buttons, static_cast<unsigned>(mbOK));
            EXPECT_EQ(box.Request.HelpContext, 0);
            EXPECT_FALSE(box.Request.ExceptionBox);
            EXPECT_EQ(box.FocusWhenShown, gui::Item(dlg, IDC_NAME));
            // A button without a modal result now sees none: the refusal reset it.
            gui::Click(gui::Item(dlg, IDC_NOTE));
            EXPECT_TRUE(IsWindowVisible(dlg));
            gui::Click(gui::Item(dlg, IDCANCEL));
            EXPECT_TRUE(gui::WaitHidden(dlg));
        });
        result = form.ShowModal();
    }
    EXPECT_EQ(result, mrCancel);
    EXPECT_EQ(form.ResultSeenByNote, mrNone);
    // Cancel asks the close query too, but nothing is validated then.
    EXPECT_EQ(form.CloseQueries, (std::vector<int>{mrOk, mrCancel}));
    EXPECT_EQ(seams.BoxCount(), 1u);
}

TEST_F(FormsTest, EnterPressesTheFocusedOrElseTheDefaultButtonAndEscapeTheCancelButton) {
    HWND dlg = form.Handle(), note = gui::Item(dlg, IDC_NOTE), ok = gui::Item(dlg, IDOK);
    auto looks = [](HWND b) { return SendMessageA(b, WM_GETDLGCODE, 0, 0) & DLGC_DEFPUSHBUTTON; };
    std::atomic<int> notes{0};
    std::atomic<bool> looked{false};  // read on the form's thread, while pressed
    form.btnNote->OnClick = [&](TObject*) { looked = looks(note) && !looks(ok); ++notes; };
    {
        gui::Driver driver([&] {
            ASSERT_TRUE(gui::WaitVisible(dlg));
            gui::Type(gui::Item(dlg, IDC_NAME), "Bob");
            gui::Click(note);  // focused by the click, not by the dialog manager
            EXPECT_TRUE(looked);
            gui::PostKey(note, VK_RETURN);
            ASSERT_TRUE(gui::WaitUntil([&] { return notes == 2; }));
            SendMessageA(dlg, WM_NEXTDLGCTL, WPARAM(gui::Item(dlg, IDC_NAME)), TRUE);
            gui::PostKey(gui::Item(dlg, IDC_NAME), VK_RETURN);
            EXPECT_TRUE(gui::WaitHidden(dlg));
        });
        EXPECT_EQ(form.ShowModal(), mrOk);
    }
    EXPECT_EQ(form.ResultSeenByOk, mrOk);
    {
        gui::Driver driver([&] {
            ASSERT_TRUE(gui::WaitVisible(dlg));
            gui::Type(gui::Item(dlg, IDC_NAME), "");
            gui::PostKey(gui::Item(dlg, IDC_NAME), VK_ESCAPE);
            EXPECT_TRUE(gui::WaitHidden(dlg));
        });
        EXPECT_EQ(form.ShowModal(), mrCancel);
    }
    EXPECT_TRUE(seams.Boxes().empty());  // Escape validates nothing
}

TEST_F(FormsTest, CloseBoxEndsWithCancelAndADisabledCancelButtonIgnoresEscape) {
    HWND dlg = form.Handle();
    form.btnCancel->SetEnabled(false);
    {
        gui::Driver driver([&] {
            ASSERT_TRUE(gui::WaitVisible(dlg));
            gui::PostKey(gui::Item(dlg, IDC_NAME), VK_ESCAPE);
            gui::Click(gui::Item(dlg, IDCANCEL));  // a disabled button cannot be pressed
            gui::PostCloseBox(dlg);
            EXPECT_TRUE(gui::WaitHidden(dlg));
        });
        EXPECT_EQ(form.ShowModal(), mrCancel);
    }
    // Only the close box reached the close query.
    EXPECT_EQ(form.CloseQueries, std::vector<int>{mrCancel});
}

TEST_F(FormsTest, F1AndTheHelpButtonAskForTheControlsHelpContext) {
    HWND dlg = form.Handle();
    EXPECT_EQ(form.edtName->HelpContext(), 500);  // from the template's help id
    form.lsItems->SetHelpContext(777);
    {
        gui::Driver driver([&] {
            ASSERT_TRUE(gui::WaitVisible(dlg));
            gui::PostKey(gui::Item(dlg, IDC_NAME), VK_F1);
            ASSERT_TRUE(gui::WaitUntil([&] { return seams.Help().size() == 1; }));
            // What Windows sends after the title-bar help button and a click on
            // a control (Wine has no context-help mode, so it is sent here).
            HELPINFO info{sizeof(HELPINFO), HELPINFO_WINDOW, IDC_AGREE,
                          gui::Item(dlg, IDC_AGREE), 0, {0, 0}};
            SendMessageA(dlg, WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
            info.hItemHandle = gui::Item(dlg, IDC_ITEMS);
            SendMessageA(dlg, WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
            info.hItemHandle = gui::Item(dlg, IDOK);  // no context: nothing is asked
            SendMessageA(dlg, WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
            // A click on a disabled control names the dialog: the point decides.
            EnableWindow(gui::Item(dlg, IDC_AGREE), FALSE);
            RECT r;
            GetWindowRect(gui::Item(dlg, IDC_AGREE), &r);
            info.hItemHandle = dlg;
            info.MousePos = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
            SendMessageA(dlg, WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
            gui::Click(gui::Item(dlg, IDCANCEL));
        });
        form.ShowModal();
    }
    auto help = seams.Help();
    ASSERT_EQ(help.size(), 4u);
    EXPECT_EQ(help[0], std::make_pair(unsigned(HELP_CONTEXT), std::uintptr_t(500)));
    EXPECT_EQ(help[1], std::make_pair(unsigned(HELP_CONTEXT), std::uintptr_t(501)));
    EXPECT_EQ(help[2], std::make_pair(unsigned(HELP_CONTEXT), std::uintptr_t(777)));
    EXPECT_EQ(help[3], std::make_pair(unsigned(HELP_CONTEXT), std::uintptr_t(501)));
}

TEST_F(FormsTest, AnExceptionFromAHandlerIsShownCaptionedWithTheTitleAndTheFormStays) {
    HWND dlg = form.Handle();
    {
        gui::Driver driver([&] {
            ASSERT_TRUE(gui::WaitVisible(dlg));
            gui::Click(gui::Item(dlg, IDC_BOOM));
            form.BoomText = "Code (5)";  // ends before the full stop: left as it is
            gui::Click(gui::Item(dlg, IDC_BOOM));
            EXPECT_TRUE(IsWindowVisible(dlg));
            gui::Click(gui::Item(dlg, IDCANCEL));
        });
        EXPECT_EQ(form.ShowModal(), mrCancel);
    }
    auto boxes = seams.Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_TRUE(boxes[0].Request.ExceptionBox);
    EXPECT_EQ(boxes[0].Request.Caption, "Forms Test App");
    EXPECT_EQ(boxes[0].Request.Text, "Something broke.");
    EXPECT_EQ(boxes[0].Request.Type, TMsgDlgType::mtError);
    EXPECT_EQ(boxes[0].Request.Buttons, static_cast<unsigned>(mbOK));
    EXPECT_EQ(boxes[1].Request.Text, "Code (5)");
}

TEST_F(FormsTest, ShowingAVisibleFormModallyIsRefused) {
    HWND dlg = form.Handle();
    {
        gui::Driver driver([&] {
            ASSERT_TRUE(gui::WaitVisible(dlg));
            gui::Click(gui::Item(dlg, IDC_NOTE));
            gui::Click(gui::Item(dlg, IDCANCEL));
        });
        form.btnNote->OnClick = [this](TObject*) { form.ShowModal(); };
        form.ShowModal();
    }
    ASSERT_EQ(seams.BoxCount(), 1u);
    EXPECT_EQ(seams.LastBox().Request.Text, "Cannot make a visible window modal.");
}

TEST_F(FormsTest, TheProgramRunsWithCommonControlsSix) {
    // The manifest makes the loader take comctl32 from the side-by-side store
    // rather than the system folder (Wine's copy reports version 5.81 either
    // way, so the version number proves nothing there).
    HMODULE comctl = GetModuleHandleA("comctl32.dll");
    ASSERT_NE(comctl, nullptr);
    char path[MAX_PATH] = {};
    GetModuleFileNameA(comctl, path, MAX_PATH);
    EXPECT_NE(StrStrIA(path, "\\winsxs\\"), nullptr) << path;
}

// The message dialogs on screen, without the seam.
class MessageFormTest : public ::testing::Test {};

TEST_F(MessageFormTest, ConfirmationHasYesAndNoAndEscapeAnswersNo) {
    int answer = -1;
    {
        gui::Driver driver([&] {
            HWND box = gui::WaitForWindow("Confirm");
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(gui::Text(gui::Item(box, IDYES)), "&Yes");
            EXPECT_EQ(gui::Text(gui::Item(box, IDNO)), "&No");
            EXPECT_EQ(gui::Item(box, IDOK), nullptr);
            EXPECT_FALSE(gui::SaveScreenshot(box, "rtl_confirm_box").empty());
            gui::PostKey(gui::Item(box, IDYES), VK_ESCAPE);
            EXPECT_TRUE(gui::WaitHidden(box));
        });
        answer = MessageDlg("This will do something.\r\nAre you sure you want to continue?",
                            TMsgDlgType::mtConfirmation, mbYes | mbNo);
    }
    EXPECT_EQ(answer, mrNo);
    {
        gui::Driver driver([&] {
            HWND box = gui::WaitForWindow("Confirm");
            ASSERT_NE(box, nullptr);
            gui::Click(gui::Item(box, IDYES));
        });
        answer = MessageDlg("Again?", TMsgDlgType::mtConfirmation, mbYes | mbNo);
    }
    EXPECT_EQ(answer, mrYes);
}

TEST_F(MessageFormTest, WarningHasOneOkButtonThatEnterPresses) {
    int answer = -1;
    {
        gui::Driver driver([&] {
            HWND box = gui::WaitForWindow("Warning");
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(gui::Text(gui::Item(box, IDOK)), "OK");
            EXPECT_EQ(gui::Item(box, IDYES), nullptr);
            gui::PostKey(gui::Item(box, IDOK), VK_RETURN);
            EXPECT_TRUE(gui::WaitHidden(box));
        });
        answer = MessageDlg("Please enter a valid email address.", TMsgDlgType::mtWarning, mbOK);
    }
    EXPECT_EQ(answer, mrOk);
}

TEST_F(MessageFormTest, TheExceptionBoxOnScreenIsCaptionedWithTheTitle) {
    Application().Title = "Exception Box Title";
    {
        gui::Driver driver([&] {
            HWND box = gui::WaitForWindow("Exception Box Title");
            ASSERT_NE(box, nullptr);
            // The system's message box keeps its text in the static 0xFFFF.
            EXPECT_EQ(gui::Text(GetDlgItem(box, 0xFFFF)), "Disk full.");
            gui::Click(gui::Item(box, IDOK));
        });
        try {
            throw Exception("Disk full");
        } catch (...) {
            Application().HandleException();
        }
    }
    Application().Title.clear();
}

TEST_F(MessageFormTest, ACodeBuiltFormHasTheClientSizeAskedFor) {
    TForm form(nullptr, "Built", WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME,
               WS_EX_DLGMODALFRAME, 293, 90);
    EXPECT_EQ(form.ClientWidth(), 293);
    EXPECT_EQ(form.ClientHeight(), 90);
    EXPECT_EQ(form.Caption(), "Built");
}

TEST(FormsScreenshot, SampleDialog) {
    gui::Seams seams;
    TSampleForm form;
    form.lsItems->Add("first");
    form.lsItems->Add("second");
    HWND dlg = form.Handle();
    std::string path;
    {
        gui::Driver driver([&] {
            ASSERT_TRUE(gui::WaitVisible(dlg));
            gui::Type(gui::Item(dlg, IDC_NAME), "Screenshot");
            path = gui::SaveScreenshot(dlg, "rtl_sample_dialog");
            gui::Click(gui::Item(dlg, IDCANCEL));
        });
        form.ShowModal();
    }
    EXPECT_FALSE(path.empty());
}

}  // namespace
