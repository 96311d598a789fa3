#include <gtest/gtest.h>

#include <vector>

#include "rtl/Classes.h"

namespace {

struct Tracked : TObject {
    Tracked(std::vector<int>& log, int id) : Log(log), Id(id) {}
    ~Tracked() override { Log.push_back(Id); }
    std::vector<int>& Log;
    int Id;
};

}  // namespace

TEST(ObjectList, OwningListFreesInReverseOrderAndOnReplaceOrDelete) {
    std::vector<int> freed;
    {
        TObjectList list(true);
        for (int i = 0; i < 4; ++i)
            list.Add(new Tracked(freed, i));
        TObject* same = list.Get(1);
        list.Put(1, same);  // same object: nothing freed
        EXPECT_TRUE(freed.empty());
        list.Put(1, new Tracked(freed, 10));
        EXPECT_EQ(freed, std::vector<int>({1}));
        list.Delete(0);
        EXPECT_EQ(freed, std::vector<int>({1, 0}));
    }
    EXPECT_EQ(freed, std::vector<int>({1, 0, 3, 2, 10}));
}

TEST(ObjectList, BadPositionRaisesWithParenthesesAndLeavesListAlone) {
    TObjectList list(false);
    Tracked* kept = nullptr;
    std::vector<int> freed;
    kept = new Tracked(freed, 1);
    list.Add(kept);
    try {
        list.Get(1);
        FAIL();
    } catch (const EListError& e) {
        EXPECT_EQ(e.Message(), "List index out of bounds (1)");
    }
    EXPECT_THROW(list.Delete(-1), EListError);
    EXPECT_EQ(list.Count(), 1);
    list.Clear();
    EXPECT_TRUE(freed.empty());  // not owning
    delete kept;
}

TEST(ObjectList, CheckedCastRefusesOtherClasses) {
    struct Other : TObject {};
    Other other;
    EXPECT_THROW(CheckedCast<Tracked>(&other), EInvalidCast);
    EXPECT_EQ(CheckedCast<Tracked>(nullptr), nullptr);
}

TEST(StringList, SortedCaseInsensitiveIgnoresDuplicatesKeepingTheFirst) {
    TStringList list;
    list.SetSorted(true);
    list.SetDuplicates(TDuplicates::dupIgnore);
    list.Add("bob@example.test");
    list.Add("Alice@example.test");
    list.Add("carol@example.test");
    EXPECT_EQ(list.Add("BOB@EXAMPLE.TEST"), 1);
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list.Strings(0), "Alice@example.test");
    EXPECT_EQ(list.Strings(1), "bob@example.test");
    EXPECT_EQ(list.Strings(2), "carol@example.test");
    EXPECT_EQ(list.IndexOf("CAROL@example.test"), 2);
    EXPECT_EQ(list.IndexOf("dave@example.test"), -1);
    EXPECT_THROW(list.Insert(0, "x"), EListError);
}

TEST(StringList, DuplicatesErrorAndAccept) {
    TStringList list;
    list.SetSorted(true);
    list.SetDuplicates(TDuplicates::dupError);
    list.Add("a");
    EXPECT_THROW(list.Add("A"), EListError);
    list.SetDuplicates(TDuplicates::dupAccept);
    list.Add("A");
    EXPECT_EQ(list.Count(), 2);
}

TEST(StringList, UnsortedKeepsOrderAndCarriesData) {
    TStringList list;
    list.AddData("zeta", 7);
    list.AddData("alpha", 9);
    EXPECT_EQ(list.Strings(0), "zeta");
    EXPECT_EQ(list.Data(1), 9);
    list.Exchange(0, 1);
    EXPECT_EQ(list.Strings(0), "alpha");
    EXPECT_EQ(list.Data(0), 9);
    EXPECT_EQ(list.Text(), "alpha\r\nzeta\r\n");
    EXPECT_THROW(list.Strings(2), EListError);
}

TEST(StringList, NameValueAccess) {
    TStringList list;
    list.Add("Spooler=Print Spooler");
    list.Add("Eventlog=Event Log=x");
    EXPECT_EQ(list.Values("spooler"), "Print Spooler");
    EXPECT_EQ(list.Values("Eventlog"), "Event Log=x");
    EXPECT_EQ(list.Names(1), "Eventlog");
    EXPECT_EQ(list.Values("missing"), "");
    list.SetValue("Spooler", "Other");
    EXPECT_EQ(list.Strings(0), "Spooler=Other");
    list.SetValue("Spooler", "");
    EXPECT_EQ(list.Count(), 1);
}
