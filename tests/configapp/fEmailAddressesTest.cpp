// The recipients dialog and its address dialog, opened for real and driven
// like a person: list clicks, the buttons, typing into the address edit.
#include <windows.h>

#include <algorithm>

#include <gtest/gtest.h>

#include "config/TarnwickConfig.h"
#include "configapp/fEmailAddresses.h"
#include "tests/support/FormSeams.h"
#include "tests/support/GuiDriver.h"

namespace {

const char* kInvalid = "Please enter a valid email address.";
const char* kDuplicate = "This email address is already in the list of recipients.";

std::vector<std::string> Lines(const TStringList& list) {
    std::vector<std::string> out;
    for (int i = 0; i < list.Count(); ++i)
        out.push_back(list.Strings(i));
    return out;
}

std::vector<std::string> Lines(const TListBox& list) {
    std::vector<std::string> out;
    for (int i = 0; i < list.Count(); ++i)
        out.push_back(list.Item(i));
    return out;
}

class RecipientsTest : public ::testing::Test {
protected:
    // Presses OK on the address dialog and waits until the refusal's box was
    // recorded; returns its text, and checks the focus went to the edit first.
    std::string RefusedOk(TfrmEmailAddressEdit* edit) {
        size_t before = seams.BoxCount();
        gui::Click(edit->btnOk->Handle());
        EXPECT_TRUE(gui::WaitUntil([&] { return seams.BoxCount() == before + 1; }));
        gui::RecordedBox box = seams.LastBox();
        EXPECT_EQ(box.Request.Caption, "Warning");
        EXPECT_EQ(box.Request.Buttons, static_cast<unsigned>(mbOK));
        EXPECT_EQ(box.FocusWhenShown, edit->edtEmailAddress->Handle());
        EXPECT_TRUE(IsWindowVisible(edit->Handle()));
        return box.Request.Text;
    }
    // Opens the address dialog through a posted press and waits for it.
    TfrmEmailAddressEdit* Open(HWND button) {
        gui::PostClick(button);
        HWND h = gui::WaitForWindow("Email Address");
        EXPECT_NE(h, nullptr);
        return form.GetEditForm();
    }

    gui::Seams seams;
    TTarnwickConfig config;
    TfrmEmailAddresses form;
};

TEST_F(RecipientsTest, AddRefusesInvalidAndDuplicateAddressesThenAddsAndSelects) {
    config.EmailAddresses->Add("alice@example.com");
    config.EmailAddresses->Add("Bob@Example.com");
    bool result = true;
    {
        gui::Driver driver([&] {
            ASSERT_TRUE(gui::WaitVisible(form.Handle()));
            // Opens with nothing selected: Edit and Remove disabled.
            EXPECT_EQ(form.lsAddresses->ItemIndex(), -1);
            EXPECT_FALSE(form.btnEdit->Enabled());
            EXPECT_FALSE(form.btnRemove->Enabled());
            EXPECT_TRUE(form.btnAdd->Enabled());

            TfrmEmailAddressEdit* edit = Open(form.btnAdd->Handle());
            ASSERT_NE(edit, nullptr);
            EXPECT_EQ(edit->edtEmailAddress->Text(), "");
            EXPECT_EQ(RefusedOk(edit), kInvalid);  // empty
            gui::Type(edit->edtEmailAddress->Handle(), "not an address");
            EXPECT_EQ(RefusedOk(edit), kInvalid);
            // Passed to the check as typed: the blanks make it invalid.
            gui::Type(edit->edtEmailAddress->Handle(), " carol@example.com ");
            EXPECT_EQ(RefusedOk(edit), kInvalid);
            gui::Type(edit->edtEmailAddress->Handle(), "BOB@example.COM");
            EXPECT_EQ(RefusedOk(edit), kDuplicate);
            EXPECT_EQ(edit->edtEmailAddress->Text(), "BOB@example.COM");  // kept as typed
            gui::Type(edit->edtEmailAddress->Handle(), "carol@example.com");
            gui::Click(edit->btnOk->Handle());
            ASSERT_TRUE(gui::WaitHidden(edit->Handle()));

            EXPECT_EQ(Lines(*form.lsAddresses),
                      (std::vector<std::string>{"alice@example.com", "Bob@Example.com",
                                                "carol@example.com"}));
            EXPECT_EQ(form.lsAddresses->ItemIndex(), 2);
            EXPECT_TRUE(form.btnEdit->Enabled());
            EXPECT_TRUE(form.btnRemove->Enabled());
            // Cancel after an add leaves the configuration as it was.
            gui::Click(form.btnCancel->Handle());
        });
        result = form.Execute(&config);
    }
    EXPECT_FALSE(result);
    EXPECT_EQ(Lines(*config.EmailAddresses),
              (std::vector<std::string>{"alice@example.com", "Bob@Example.com"}));
    EXPECT_EQ(seams.BoxCount(), 4u);
}

TEST_F(RecipientsTest, EditAcceptsItsOwnAddressInAnotherCaseAndRefusesAnotherListedOne) {
    // Lines past 512 characters are read whole (Wine's ANSI list box read faults).
    const std::string longLine = std::string(594, 'y') + "@x.com";
    for (std::string a : {"a@x.com", "b@x.com", "c@x.com", longLine.c_str()})
        config.EmailAddresses->Add(a);
    bool result = false;
    {
        gui::Driver driver([&] {
            ASSERT_TRUE(gui::WaitVisible(form.Handle()));
            HWND list = form.lsAddresses->Handle();
            gui::ClickListItem(list, 0);
            EXPECT_TRUE(form.btnEdit->Enabled());
            TfrmEmailAddressEdit* edit = Open(form.btnEdit->Handle());
            ASSERT_NE(edit, nullptr);
            EXPECT_EQ(edit->edtEmailAddress->Text(), "a@x.com");
            gui::Type(edit->edtEmailAddress->Handle(), "C@X.com");
            EXPECT_EQ(RefusedOk(edit), kDuplicate);
            gui::Type(edit->edtEmailAddress->Handle(), "Z@X.COM");
            gui::Click(edit->btnOk->Handle());
            ASSERT_TRUE(gui::WaitHidden(edit->Handle()));
            // The line changes in place and stays selected; no re-sorting.
            EXPECT_EQ(Lines(*form.lsAddresses),
                      (std::vector<std::string>{"Z@X.COM", "b@x.com", "c@x.com", longLine}));
            EXPECT_EQ(form.lsAddresses->ItemIndex(), 0);

            // A double click opens the same (reused) dialog for that line;
            // OK without a change, then the same address in other letters.
            gui::PostDoubleClickListItem(list, 1);
            ASSERT_NE(gui::WaitForWindow("Email Address"), nullptr);
            EXPECT_EQ(edit->edtEmailAddress->Text(), "b@x.com");
            gui::Click(edit->btnOk->Handle());
            ASSERT_TRUE(gui::WaitHidden(edit->Handle()));
            Open(form.btnEdit->Handle());
            gui::Type(edit->edtEmailAddress->Handle(), "B@X.Com");
            gui::Click(edit->btnOk->Handle());
            ASSERT_TRUE(gui::WaitHidden(edit->Handle()));
            EXPECT_EQ(form.lsAddresses->Item(1), "B@X.Com");

            // Cancel in the address dialog changes nothing.
            Open(form.btnEdit->Handle());
            gui::Type(edit->edtEmailAddress->Handle(), "other@x.com");
            gui::Click(edit->btnCancel->Handle());
            ASSERT_TRUE(gui::WaitHidden(edit->Handle()));
            EXPECT_EQ(form.lsAddresses->Item(1), "B@X.Com");
            EXPECT_TRUE(form.btnEdit->Enabled());
            gui::Click(form.btnOk->Handle());
        });
        result = form.Execute(&config);
    }
    EXPECT_TRUE(result);
    // The configuration's list sorts the addresses itself.
    EXPECT_EQ(Lines(*config.EmailAddresses),
              (std::vector<std::string>{"B@X.Com", "c@x.com", longLine, "Z@X.COM"}));
    EXPECT_EQ(seams.BoxCount(), 1u);
}

TEST_F(RecipientsTest, RemoveAsksNothingAndTheCloseBoxKeepsTheConfiguration) {
    for (const char* a : {"a@x.com", "b@x.com"})
        config.EmailAddresses->Add(a);
    bool result = true;
    {
        gui::Driver driver([&] {
            ASSERT_TRUE(gui::WaitVisible(form.Handle()));
            HWND list = form.lsAddresses->Handle();
            // Nothing selected: a double click below the lines opens nothing.
            gui::DoubleClickEmptyListArea(list);
            EXPECT_EQ(gui::FindVisible("Email Address"), nullptr);
            gui::ClickListItem(list, 1);
            gui::Click(form.btnRemove->Handle());
            EXPECT_EQ(Lines(*form.lsAddresses), std::vector<std::string>{"a@x.com"});
            EXPECT_EQ(form.lsAddresses->ItemIndex(), -1);
            EXPECT_FALSE(form.btnEdit->Enabled());
            EXPECT_FALSE(form.btnRemove->Enabled());
            gui::PostCloseBox(form.Handle());
        });
        result = form.Execute(&config);
    }
    EXPECT_FALSE(result);
    EXPECT_EQ(Lines(*config.EmailAddresses), (std::vector<std::string>{"a@x.com", "b@x.com"}));
    EXPECT_EQ(seams.BoxCount(), 0u);
}

TEST_F(RecipientsTest, AnEmptyListOpensEmptyAndOkStoresItEmpty) {
    config.EmailAddresses->Add("gone@x.com");
    bool result = false;
    {
        gui::Driver driver([&] {
            ASSERT_TRUE(gui::WaitVisible(form.Handle()));
            // Down, Alt+R: the focus, read right after the removal, is on the list.
            HWND list = form.lsAddresses->Handle(), focus = nullptr;
            auto remove = form.btnRemove->OnClick;
            form.btnRemove->OnClick = [&](TObject* s) { remove(s); focus = GetFocus(); };
            gui::PostKey(list, VK_DOWN);
            gui::PostAltKey(list, 'R');
            ASSERT_TRUE(gui::WaitUntil([&] { return form.lsAddresses->Count() == 0; }));
            EXPECT_EQ(focus, list);
            gui::PostKey(list, VK_RETURN);  // OK is the default button
        });
        result = form.Execute(&config);
    }
    EXPECT_TRUE(result);
    EXPECT_EQ(config.EmailAddresses->Count(), 0);
    {
        TTarnwickConfig empty;
        gui::Driver driver([&] {
            ASSERT_TRUE(gui::WaitVisible(form.Handle()));
            EXPECT_EQ(form.lsAddresses->Count(), 0);
            gui::Click(form.btnOk->Handle());
        });
        EXPECT_TRUE(form.Execute(&empty));
        EXPECT_EQ(empty.EmailAddresses->Count(), 0);
    }
}

TEST_F(RecipientsTest, HelpContextsLayoutAndScreenshots) {
    config.EmailAddresses->Add("admin@example.com");
    config.EmailAddresses->Add("ops@example.com");
    EXPECT_EQ(form.Caption(), "Email Addresses");
    EXPECT_EQ(form.ClientWidth(), 293);
    EXPECT_EQ(form.ClientHeight(), 302);
    EXPECT_EQ(form.GetEditForm()->Caption(), "Email Address");
    EXPECT_EQ(form.GetEditForm()->ClientWidth(), 293);
    EXPECT_EQ(form.GetEditForm()->ClientHeight(), 90);
    {
        gui::Driver driver([&] {
            ASSERT_TRUE(gui::WaitVisible(form.Handle()));
            EXPECT_EQ(form.pcMain->ActivePageIndex(), 0);
            EXPECT_TRUE(gui::WaitUntil(
                [&] { return gui::FocusOf(form.Handle()) == form.lsAddresses->Handle(); }));
            gui::PostKey(form.lsAddresses->Handle(), VK_F1);
            ASSERT_TRUE(gui::WaitUntil([&] { return seams.Help().size() == 1; }));
            for (TControl* c : std::vector<TControl*>{form.btnAdd, form.btnEdit, form.btnRemove}) {
                HELPINFO info{sizeof(HELPINFO), HELPINFO_WINDOW, c->Id(), c->Handle(), 0, {0, 0}};
                SendMessageA(form.Handle(), WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
            }
            gui::ClickListItem(form.lsAddresses->Handle(), 0);
            EXPECT_FALSE(gui::SaveScreenshot(form.Handle(), "configapp_email_addresses").empty());
            TfrmEmailAddressEdit* edit = Open(form.btnEdit->Handle());
            EXPECT_FALSE(gui::SaveScreenshot(edit->Handle(), "configapp_email_address").empty());
            // On the screen itself, the dialog inside its owner is painted, not black.
            SetWindowPos(edit->Handle(), HWND_TOPMOST, 0, 0, 0, 0,
                         SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
            RECT r{};
            GetWindowRect(edit->Handle(), &r);
            std::vector<DWORD> px = gui::ScreenPixels(r);
            EXPECT_LT(std::count(px.begin(), px.end(), 0u) * 2, px.size());
            gui::Click(edit->btnCancel->Handle());
            ASSERT_TRUE(gui::WaitHidden(edit->Handle()));
            gui::Click(form.btnCancel->Handle());
        });
        form.Execute(&config);
    }
    std::vector<std::pair<unsigned, std::uintptr_t>> expected{
        {HELP_CONTEXT, 10100}, {HELP_CONTEXT, 10101}, {HELP_CONTEXT, 10102}, {HELP_CONTEXT, 10103}};
    EXPECT_EQ(seams.Help(), expected);
}

}  // namespace
