#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "lib/BWList.h"

namespace {

struct Tracked : TObject {
    Tracked(std::vector<int>& log, int id) : Log(log), Id(id) {}
    ~Tracked() override { Log.push_back(Id); }
    std::vector<int>& Log;
    int Id;
};

struct Keyed : TObject, IPersistentEntity {
    explicit Keyed(std::int32_t pk) : PK(pk) {}
    std::int32_t GetPK() override { return PK; }
    std::int32_t PK;
};

std::string ListErrorText(const std::function<void()>& action) {
    try {
        action();
    } catch (const EListError& e) {
        return e.Message();
    }
    return "(nothing raised)";
}

}  // namespace

TEST(BWList, BeforeTheFirstAddBadPositionsUseSquareBrackets) {
    TBWList list(true);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(ListErrorText([&] { list.GetItem(0); }), "List index out of bounds [0]");
    EXPECT_EQ(ListErrorText([&] { list.Delete(3); }), "List index out of bounds [3]");
    EXPECT_EQ(ListErrorText([&] { list.SetItem(0, nullptr); }), "List index out of bounds [0]");
    Tracked* stranger = nullptr;
    EXPECT_EQ(list.IndexOf(stranger), -1);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
}

TEST(BWList, OnceTheStoreExistsReadsAndDeletesUseItsText) {
    std::vector<int> freed;
    TBWList list(true);
    list.Add(new Tracked(freed, 0));
    list.Clear();
    EXPECT_EQ(freed, std::vector<int>({0}));
    EXPECT_EQ(list.Count(), 0);
    // The store stays after Clear, so its own text (parentheses) applies.
    EXPECT_EQ(ListErrorText([&] { list.GetItem(0); }), "List index out of bounds (0)");
    EXPECT_EQ(ListErrorText([&] { list.Delete(-1); }), "List index out of bounds (-1)");
    // SetItem checks the position itself, always with square brackets.
    list.Add(new Tracked(freed, 1));
    list.Add(new Tracked(freed, 2));
    EXPECT_EQ(ListErrorText([&] { list.SetItem(-1, nullptr); }), "List index out of bounds [-1]");
    EXPECT_EQ(ListErrorText([&] { list.SetItem(2, nullptr); }), "List index out of bounds [2]");
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(freed, std::vector<int>({0}));
}

TEST(BWList, OwningListFreesReplacedDeletedAndClearedItemsLastFirst) {
    std::vector<int> freed;
    {
        TBWList list(true);
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(list.Add(new Tracked(freed, i)), i);
        list.SetItem(1, list.GetItem(1));  // the same object: nothing freed
        EXPECT_TRUE(freed.empty());
        list.SetItem(1, new Tracked(freed, 10));
        EXPECT_EQ(freed, std::vector<int>({1}));
        list.Delete(0);
        EXPECT_EQ(freed, std::vector<int>({1, 0}));
        EXPECT_EQ(static_cast<Tracked*>(list.GetItem(0))->Id, 10);
        list.Clear();
        EXPECT_EQ(freed, std::vector<int>({1, 0, 4, 3, 2, 10}));
        list.Add(new Tracked(freed, 20));
        list.Add(new Tracked(freed, 21));
        freed.clear();
    }
    // The destructor also frees the last item first.
    EXPECT_EQ(freed, std::vector<int>({21, 20}));
}

TEST(BWList, NonOwningListFreesNothing) {
    std::vector<int> freed;
    Tracked a(freed, 1), b(freed, 2);
    {
        TBWList list(false);
        list.Add(&a);
        list.Add(&b);
        list.Add(&a);
        list.Add(nullptr);
        EXPECT_EQ(list.IndexOf(&a), 0);  // identity, first position
        EXPECT_EQ(list.IndexOf(nullptr), 3);
        list.SetItem(0, &b);
        list.Delete(1);
        list.Clear();
    }
    EXPECT_TRUE(freed.empty());
}

TEST(BWList, GetPKNeedsAPersistentEntity) {
    TBWList list(false);
    Keyed keyed(42);
    std::vector<int> log;
    Tracked plain(log, 0);
    EXPECT_EQ(list.GetPK(&keyed), 42);
    for (TObject* item : {static_cast<TObject*>(&plain), static_cast<TObject*>(nullptr)}) {
        try {
            list.GetPK(item);
            ADD_FAILURE() << "no exception";
        } catch (const ETechnical& e) {
            EXPECT_NE(dynamic_cast<const EIndexRequiresPersistentEntities*>(&e), nullptr);
            EXPECT_EQ(e.Message(),
                      "List indexing requires a Persistent entity - override GetPK for other "
                      "classes");
        }
    }
}

TEST(BWList, IndexOfPKNeedsTheIndexSwitchedOn) {
    TBWList list(false);
    EXPECT_THROW(list.IndexOfPK(1), EBWListNotIndexed);
    list.SetIndexed(true);
    EXPECT_EQ(list.IndexOfPK(1), -1);
    list.PKIndex().push_back({0, 1});
    EXPECT_EQ(list.IndexOfPK(1), 0);
    list.SetIndexed(true);  // unchanged: entries kept
    EXPECT_EQ(list.PKIndex().size(), 1u);
    list.Clear();
    EXPECT_FALSE(list.Indexed());
    EXPECT_TRUE(list.PKIndex().empty());
    try {
        list.IndexOfPK(1);
        FAIL();
    } catch (const EBWListNotIndexed& e) {
        EXPECT_EQ(e.Message(), "List not indexed");
    }
}

TEST(BWList, IndexOfPKScansUpToSevenEntriesAndHalvesFromEight) {
    TBWList list(false);
    list.SetIndexed(true);
    // Seven entries out of order are still found by the scan.
    std::vector<TPKIndexEntry>& index = list.PKIndex();
    for (std::int32_t pk : {70, 10, 60, 20, 50, 30, 40})
        index.push_back({pk / 10 - 1, pk});
    EXPECT_EQ(list.IndexOfPK(70), 6);
    EXPECT_EQ(list.IndexOfPK(40), 3);
    // Sorted, with eight entries, halving: 80 is found by the comparison
    // after the loop, 10 after hi fell to 1; keys between or outside miss.
    index.clear();
    for (std::int32_t i = 0; i < 8; ++i)
        index.push_back({i, (i + 1) * 10});
    for (std::int32_t i = 0; i < 8; ++i)
        EXPECT_EQ(list.IndexOfPK((i + 1) * 10), i) << (i + 1) * 10;
    for (std::int32_t pk : {55, 5, 85, -10, 15})
        EXPECT_EQ(list.IndexOfPK(pk), -1) << pk;
    // Signed comparison, and an unsorted array of eight is not scanned.
    index.clear();
    for (std::int32_t i = 0; i < 9; ++i)
        index.push_back({i, (i - 4) * 250000000});
    EXPECT_EQ(list.IndexOfPK(-1000000000), 0);
    EXPECT_EQ(list.IndexOfPK(1000000000), 8);
    std::swap(index[0], index[8]);
    EXPECT_EQ(list.IndexOfPK(1000000000), -1);
}
