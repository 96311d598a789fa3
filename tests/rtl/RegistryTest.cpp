#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "rtl/Classes.h"
#include "rtl/Registry.h"
#include "tests/support/RawRegistry.h"

namespace {

// A key of this process's own, so that programs running side by side under
// ctest -j never meet.
class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        Root = "SOFTWARE\\Brellow\\TarnwickTests\\Registry-" + std::to_string(GetCurrentProcessId());
        rawreg::DeleteTree(Root);
        rawreg::CreateKey(Root);
    }
    void TearDown() override {
        rawreg::UnrestrictKey(Root + "\\Locked");
        rawreg::DeleteTree(Root);
    }
    std::string Root;
};

std::string RegistryError(const std::function<void()>& action) {
    try {
        action();
    } catch (const ERegistryException& e) {
        return e.Message();
    }
    return "(nothing raised)";
}

std::vector<std::string> Names(const TStringList& list) {
    std::vector<std::string> names;
    for (int i = 0; i < list.Count(); ++i)
        names.push_back(list.Strings(i));
    return names;
}

}  // namespace

TEST_F(RegistryTest, OpenForReadingNeverCreatesAndOpenOrCreateMakesThePath) {
    TRegistry reg;
    EXPECT_FALSE(reg.OpenKeyReadOnly(Root + "\\A\\B"));
    EXPECT_FALSE(reg.KeyOpen());
    EXPECT_FALSE(rawreg::KeyExists(Root + "\\A"));

    ASSERT_TRUE(reg.OpenOrCreateKey(Root + "\\A\\B"));
    EXPECT_EQ(reg.CurrentPath(), Root + "\\A\\B");
    reg.WriteString("v", "x");
    EXPECT_EQ(rawreg::Get(Root + "\\A\\B", "v").Text(), "x");

    // Opening another key closes the one before: one key at a time.
    ASSERT_TRUE(reg.OpenKeyReadOnly(Root + "\\A"));
    EXPECT_EQ(reg.CurrentPath(), Root + "\\A");
    EXPECT_FALSE(reg.ValueExists("v"));
    EXPECT_EQ(RegistryError([&] { reg.WriteString("w", "y"); }), "Failed to set data for 'w'");
    reg.CloseKey();
    EXPECT_FALSE(reg.KeyOpen());
    EXPECT_EQ(reg.CurrentPath(), "");
    reg.CloseKey();  // nothing open: nothing happens
}

TEST_F(RegistryTest, OpenForReadingFallsBackToNarrowerAccess) {
    const std::string locked = Root + "\\Locked";
    rawreg::SetString(locked, "v", "text");
    // Only the right to query values: the first two requests are refused.
    if (!rawreg::RestrictKey(locked, KEY_QUERY_VALUE))
        GTEST_SKIP() << "the registry refused a new DACL";
    HKEY probe;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, locked.c_str(), 0, KEY_READ, &probe) == ERROR_SUCCESS) {
        RegCloseKey(probe);
        GTEST_SKIP() << "this registry grants KEY_READ past a DACL that allows only "
                        "KEY_QUERY_VALUE, so the fallbacks cannot be reached";
    }
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKeyReadOnly(locked));
    EXPECT_EQ(reg.ReadString("v"), "text");
    TStringList names;
    names.Add("stale");
    reg.GetKeyNames(names);  // no right to enumerate: stays empty
    EXPECT_EQ(names.Count(), 0);

    // The middle request: standard read rights, query and enumerate.
    ASSERT_TRUE(rawreg::RestrictKey(
        locked, STANDARD_RIGHTS_READ | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS));
    ASSERT_TRUE(reg.OpenKeyReadOnly(locked));
    EXPECT_EQ(reg.ReadString("v"), "text");

    // Nothing granted: all three refused.
    ASSERT_TRUE(rawreg::RestrictKey(locked, 0));
    EXPECT_FALSE(reg.OpenKeyReadOnly(locked));
    EXPECT_FALSE(reg.KeyOpen());
    // Nor may the key be written through open or create.
    EXPECT_FALSE(reg.OpenOrCreateKey(locked));
}

TEST_F(RegistryTest, WritesStoreTheirTypesAndReadBack) {
    TRegistry reg;
    ASSERT_TRUE(reg.OpenOrCreateKey(Root));
    reg.WriteString("s", "Hello");
    reg.WriteString("empty", "");
    reg.WriteInteger("i", -5);
    reg.WriteBool("t", true);
    reg.WriteBool("f", false);
    const TDateTime when = 46000.25;
    reg.WriteDateTime("d", when);

    rawreg::Value s = rawreg::Get(Root, "s");
    EXPECT_EQ(s.Type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(s.Data, std::string("Hello\0", 6));
    rawreg::Value empty = rawreg::Get(Root, "empty");
    EXPECT_EQ(empty.Data, std::string("\0", 1));
    rawreg::Value i = rawreg::Get(Root, "i");
    EXPECT_EQ(i.Type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(i.Dword(), 0xFFFFFFFBu);
    EXPECT_EQ(rawreg::Get(Root, "t").Dword(), 1u);
    EXPECT_EQ(rawreg::Get(Root, "f").Dword(), 0u);
    rawreg::Value d = rawreg::Get(Root, "d");
    EXPECT_EQ(d.Type, static_cast<DWORD>(REG_BINARY));
    ASSERT_EQ(d.Data.size(), 8u);
    EXPECT_EQ(std::memcmp(d.Data.data(), &when, 8), 0);

    EXPECT_EQ(reg.ReadString("s"), "Hello");
    EXPECT_EQ(reg.ReadString("empty"), "");
    EXPECT_EQ(reg.ReadInteger("i"), -5);
    EXPECT_TRUE(reg.ReadBool("t"));
    EXPECT_FALSE(reg.ReadBool("f"));
    EXPECT_EQ(reg.ReadDateTime("d"), when);
    EXPECT_TRUE(reg.ValueExists("empty"));
    EXPECT_FALSE(reg.ValueExists("missing"));
}

TEST_F(RegistryTest, ReadStringChecksTheTypeOnlyWhenThereIsData) {
    rawreg::SetString(Root, "expand", "%SystemRoot%\\mail", REG_EXPAND_SZ);
    rawreg::Set(Root, "unterminated", REG_SZ, "abc", 3);
    rawreg::Set(Root, "inner nul", REG_SZ, "ab\0cd\0", 6);
    rawreg::Set(Root, "no data", REG_BINARY, "", 0);
    rawreg::SetDword(Root, "number", 7);
    rawreg::Set(Root, "multi", REG_MULTI_SZ, "a\0b\0\0", 5);

    TRegistry reg;
    ASSERT_TRUE(reg.OpenKeyReadOnly(Root));
    EXPECT_EQ(reg.ReadString("expand"), "%SystemRoot%\\mail");  // not expanded
    EXPECT_EQ(reg.ReadString("unterminated"), "abc");
    EXPECT_EQ(reg.ReadString("inner nul"), "ab");
    EXPECT_EQ(reg.ReadString("no data"), "");
    EXPECT_EQ(reg.ReadString("missing"), "");
    EXPECT_EQ(RegistryError([&] { reg.ReadString("number"); }),
              "Invalid data type for 'number'");
    EXPECT_EQ(RegistryError([&] { reg.ReadString("multi"); }), "Invalid data type for 'multi'");
}

TEST_F(RegistryTest, ReadIntegerAndDateTimeRefuseWrongTypesAndSizes) {
    rawreg::SetString(Root, "short text", "1");      // 2 bytes: fits, wrong type
    rawreg::SetString(Root, "long text", "true");    // 5 bytes: does not fit
    rawreg::Set(Root, "binary4", REG_BINARY, "\1\0\0\0", 4);
    rawreg::SetDword(Root, "two", 2);
    const unsigned long long qword = 1;
    rawreg::Set(Root, "qword", REG_QWORD, &qword, 8);
    const double when = 45000.5;
    rawreg::Set(Root, "time4", REG_BINARY, &when, 4);
    char sixteen[16] = {};
    rawreg::Set(Root, "time16", REG_BINARY, sixteen, 16);
    rawreg::Set(Root, "time as dword", REG_DWORD, &when, 4);

    TRegistry reg;
    ASSERT_TRUE(reg.OpenKeyReadOnly(Root));
    EXPECT_TRUE(reg.ReadBool("two"));
    EXPECT_EQ(reg.ReadInteger("two"), 2);
    EXPECT_EQ(RegistryError([&] { reg.ReadBool("short text"); }),
              "Invalid data type for 'short text'");
    EXPECT_EQ(RegistryError([&] { reg.ReadBool("long text"); }),
              "Failed to get data for 'long text'");
    EXPECT_EQ(RegistryError([&] { reg.ReadInteger("binary4"); }),
              "Invalid data type for 'binary4'");
    EXPECT_EQ(RegistryError([&] { reg.ReadInteger("qword"); }), "Failed to get data for 'qword'");
    EXPECT_EQ(RegistryError([&] { reg.ReadInteger("missing"); }),
              "Failed to get data for 'missing'");

    EXPECT_EQ(RegistryError([&] { reg.ReadDateTime("time4"); }), "Invalid data type for 'time4'");
    EXPECT_EQ(RegistryError([&] { reg.ReadDateTime("time16"); }),
              "Failed to get data for 'time16'");
    EXPECT_EQ(RegistryError([&] { reg.ReadDateTime("qword"); }), "Invalid data type for 'qword'");
    EXPECT_EQ(RegistryError([&] { reg.ReadDateTime("time as dword"); }),
              "Invalid data type for 'time as dword'");
    EXPECT_EQ(RegistryError([&] { reg.ReadDateTime("missing"); }),
              "Failed to get data for 'missing'");
}

TEST_F(RegistryTest, WithoutAnOpenKeyReadsSeeNothingAndWritesRaise) {
    TRegistry reg;
    EXPECT_FALSE(reg.ValueExists("x"));
    EXPECT_EQ(reg.ReadString("x"), "");
    EXPECT_EQ(RegistryError([&] { reg.ReadInteger("x"); }), "Failed to get data for 'x'");
    EXPECT_EQ(RegistryError([&] { reg.WriteString("x", "1"); }), "Failed to set data for 'x'");
    EXPECT_EQ(RegistryError([&] { reg.WriteInteger("x", 1); }), "Failed to set data for 'x'");
    EXPECT_EQ(RegistryError([&] { reg.WriteDateTime("x", 1); }), "Failed to set data for 'x'");
    TStringList names;
    names.Add("stale");
    reg.GetValueNames(names);
    EXPECT_EQ(names.Count(), 0);
    EXPECT_FALSE(reg.DeleteValue("x"));
}

TEST_F(RegistryTest, ListsNamesAndDeletesValuesAndWholeSubkeyTrees) {
    const std::string longName(300, 'n');
    for (const std::string& name : {std::string("b"), std::string("A"), longName})
        rawreg::SetString(Root, name, "v");
    rawreg::SetString(Root + "\\Keep", "v", "1");
    rawreg::SetString(Root + "\\Gone\\Child1\\Grandchild", "v", "1");
    rawreg::SetString(Root + "\\Gone\\Child2", "v", "1");
    rawreg::SetString(Root + "\\Gone", "v", "1");

    TRegistry reg;
    ASSERT_TRUE(reg.OpenOrCreateKey(Root));
    TStringList names;
    names.Add("stale");
    reg.GetValueNames(names);
    names.Sort();
    EXPECT_EQ(Names(names), std::vector<std::string>({"A", "b", longName}));
    reg.GetKeyNames(names);
    names.Sort();
    EXPECT_EQ(Names(names), std::vector<std::string>({"Gone", "Keep"}));

    EXPECT_TRUE(reg.DeleteValue("b"));
    EXPECT_FALSE(reg.DeleteValue("b"));
    // Relative to the open key, everything below it first.
    EXPECT_TRUE(reg.DeleteKey("Gone"));
    EXPECT_FALSE(rawreg::KeyExists(Root + "\\Gone"));
    EXPECT_TRUE(rawreg::KeyExists(Root + "\\Keep"));
    EXPECT_FALSE(reg.DeleteKey("Gone"));
    // An empty name must not take the open key itself with it.
    EXPECT_FALSE(reg.DeleteKey(""));
    EXPECT_TRUE(rawreg::KeyExists(Root + "\\Keep"));
    reg.GetValueNames(names);
    EXPECT_EQ(names.Count(), 2);
}
