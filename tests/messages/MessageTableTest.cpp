#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <vector>

#include "service/twmessages.h"

// twmsgs.dll as the event viewer uses it: loaded as a data file, its texts
// rendered with FormatMessageA.

namespace {

const WORD kEnglishUS = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);  // 1033

// The lines of every entry; each is followed by CR LF in the table.
const std::map<DWORD, std::vector<std::string>>& ExpectedLines() {
    static const std::map<DWORD, std::vector<std::string>> table = {
        {CATEGORY_ALERT, {"Alert"}},
        {CATEGORY_SMTP, {"SMTP"}},
        {MSG_SERVICE_STARTUP,
         {"Tarnwick has detected that a monitored Windows Services has started up.", "%n",
          "%nName: %1 (%2)", "%n", "%nProcess Name: %3", "%nOwner: %4", "%nStarted At: %5"}},
        {MSG_SERVICE_SHUTDOWN,
         {"Tarnwick has detected that a monitored Windows Services has shutdown.", "%n",
          "%nName: %1 (%2)", "%nExit Code: %3 (%4)", "%nService Exit Code: %5", "%n",
          "%nProcess Name: %6", "%nOwner: %7", "%nStarted At: %8", "%nShutdown At: %9", "%n",
          "%nKernel Time: %10", "%nUser Time: %11", "%nTotal Time: %12", "%n",
          "%nPage Faults: %13", "%nPeak Working Set: %14", "%nPeak Paged Pool: %15",
          "%nPeak Non Paged Pool: %16", "%nPeak Pagefile: %17"}},
        {MSG_PROCESS_SHUTDOWN,
         {"Tarnwick has detected that a monitored process has shutdown.", "%n", "%nName: %1",
          "%nExit Code: %2", "%n", "%nFull Path: %3", "%nOwner: %4", "%nStarted At: %5",
          "%nShutdown At: %6", "%n", "%nKernel Time: %7", "%nUser Time: %8",
          "%nTotal Time: %9", "%n", "%nRemaining Instances: %10", "%n", "%nPage Faults: %11",
          "%nPeak Working Set: %12", "%nPeak Paged Pool: %13", "%nPeak Non Paged Pool: %14",
          "%nPeak Pagefile: %15"}},
        {MSG_PROCESS_STARTUP,
         {"Tarnwick has detected that a monitored process has started up.", "%n", "%nName: %1",
          "%nFull Path: %2", "%nOwner: %3", "%nStarted At: %4", "%n", "%nTotal Instances: %5"}},
        {MSG_MONITOR_STARTUP,
         {"Tarnwick has successfully started.", "%n", "%nDate:   %1", "%nServer: %2",
          "%nBooted: %3"}},
        {MSG_MONITOR_SHUTDOWN,
         {"Tarnwick is shutting down. Services and processes will no longer be", "monitored.",
          "%n", "%nDate:   %1", "%nServer: %2", "%nBooted: %3"}},
        {MSG_SMTP_SEND_FAILED,
         {"Tarnwick was unable to send alerts emails to the following recipients:", "%n%n%1",
          "%nCheck your settings using the Tarnwick configuration tool."}},
    };
    return table;
}

std::string RawText(DWORD id) {
    std::string text;
    for (const std::string& line : ExpectedLines().at(id))
        text += line + "\r\n";
    return text;
}

// What the message formatter makes of a raw text: "%n" a line break, "%k"
// insert k (one or two digits).
std::string Expand(const std::string& raw, const std::vector<std::string>& inserts) {
    std::string out;
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != '%') {
            out += raw[i];
        } else if (raw[i + 1] == 'n') {
            out += "\r\n";
            ++i;
        } else {
            size_t digits = isdigit(static_cast<unsigned char>(raw[i + 2])) ? 2 : 1;
            out += inserts.at(std::stoul(raw.substr(i + 1, digits)) - 1);
            i += digits;
        }
    }
    return out;
}

std::string DllPath() {
    char exe[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string dir(exe, n);
    dir.erase(dir.find_last_of('\\'));
    // Test programs are in <build>\tests, the deliverables in <build>\bin.
    return dir + "\\..\\bin\\twmsgs.dll";
}

class MessageTable : public ::testing::Test {
protected:
    void SetUp() override {
        FModule = LoadLibraryExA(DllPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(FModule, nullptr) << DllPath() << " error " << GetLastError();
    }
    void TearDown() override {
        if (FModule != nullptr)
            FreeLibrary(FModule);
    }

    std::string Render(DWORD id, const std::vector<std::string>& inserts) {
        std::vector<DWORD_PTR> args;
        for (const std::string& s : inserts)
            args.push_back(reinterpret_cast<DWORD_PTR>(s.c_str()));
        char* buffer = nullptr;
        DWORD len = FormatMessageA(
            FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY |
                FORMAT_MESSAGE_ALLOCATE_BUFFER,
            FModule, id, kEnglishUS, reinterpret_cast<char*>(&buffer), 0,
            reinterpret_cast<va_list*>(args.empty() ? nullptr : args.data()));
        std::string text;
        if (buffer != nullptr) {
            text.assign(buffer, len);
            LocalFree(buffer);
        }
        return text;
    }

    HMODULE FModule = nullptr;
};

std::vector<std::string> SampleInserts(size_t count) {
    std::vector<std::string> inserts;
    for (size_t i = 1; i <= count; ++i)
        inserts.push_back("<insert " + std::to_string(i) + ">");
    return inserts;
}

}  // namespace

TEST_F(MessageTable, EveryMessageRendersAsItsLinesWithInserts) {
    const std::map<DWORD, size_t> insertCounts = {
        {MSG_SERVICE_STARTUP, 5}, {MSG_SERVICE_SHUTDOWN, 17}, {MSG_PROCESS_SHUTDOWN, 15},
        {MSG_PROCESS_STARTUP, 5}, {MSG_MONITOR_STARTUP, 3},   {MSG_MONITOR_SHUTDOWN, 3},
        {MSG_SMTP_SEND_FAILED, 1}};
    for (const auto& [id, count] : insertCounts) {
        std::vector<std::string> inserts = SampleInserts(count);
        EXPECT_EQ(Render(id, inserts), Expand(RawText(id), inserts)) << std::hex << id;
    }
}

TEST_F(MessageTable, CategoriesRenderTheirNames) {
    EXPECT_EQ(Render(CATEGORY_ALERT, {}), "Alert\r\n");
    EXPECT_EQ(Render(CATEGORY_SMTP, {}), "SMTP\r\n");
}

TEST_F(MessageTable, MonitorStartupInFull) {
    EXPECT_EQ(Render(MSG_MONITOR_STARTUP, {"12/9/2026 5:14:04 AM", "WORKGROUP\\VM", "12/9/2026"}),
              "Tarnwick has successfully started.\r\n"
              "\r\n\r\n"
              "\r\nDate:   12/9/2026 5:14:04 AM\r\n"
              "\r\nServer: WORKGROUP\\VM\r\n"
              "\r\nBooted: 12/9/2026\r\n");
}

TEST_F(MessageTable, FailedRecipientsFollowTwoLineBreaks) {
    EXPECT_EQ(Render(MSG_SMTP_SEND_FAILED, {"a@example.test\r\nb@example.test\r\n"}),
              "Tarnwick was unable to send alerts emails to the following recipients:\r\n"
              "\r\n\r\na@example.test\r\nb@example.test\r\n\r\n"
              "\r\nCheck your settings using the Tarnwick configuration tool.\r\n");
}

TEST_F(MessageTable, EmptyInsertsLeaveTheLabels) {
    std::string text = Render(MSG_SERVICE_STARTUP, {"Spooler Service", "spooler", "", "", ""});
    EXPECT_NE(text.find("\r\nProcess Name: \r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\r\nOwner: \r\n"), std::string::npos) << text;
    const std::string last = "\r\nStarted At: \r\n";
    ASSERT_GE(text.size(), last.size());
    EXPECT_EQ(text.substr(text.size() - last.size()), last) << text;
}

// The table itself: one RT_MESSAGETABLE resource, id 1, language 1033, three
// blocks, single-byte entries padded with zeros to 4 bytes.
TEST_F(MessageTable, TableLayout) {
    HRSRC found = FindResourceExA(FModule, MAKEINTRESOURCEA(11) /* RT_MESSAGETABLE */,
                                  MAKEINTRESOURCEA(1), kEnglishUS);
    ASSERT_NE(found, nullptr);
    DWORD size = SizeofResource(FModule, found);
    const BYTE* base = static_cast<const BYTE*>(LockResource(LoadResource(FModule, found)));
    ASSERT_NE(base, nullptr);
    auto data = reinterpret_cast<const MESSAGE_RESOURCE_DATA*>(base);
    ASSERT_EQ(data->NumberOfBlocks, 3u);
    const DWORD ranges[3][2] = {{1, 2}, {0x40010001, 0x40010006}, {0xC0020001, 0xC0020001}};
    size_t entries = 0;
    for (DWORD b = 0; b < 3; ++b) {
        const MESSAGE_RESOURCE_BLOCK& block = data->Blocks[b];
        EXPECT_EQ(block.LowId, ranges[b][0]);
        EXPECT_EQ(block.HighId, ranges[b][1]);
        DWORD offset = block.OffsetToEntries;
        for (DWORD id = block.LowId; id <= block.HighId; ++id, ++entries) {
            ASSERT_LE(offset + 4, size);
            auto entry = reinterpret_cast<const MESSAGE_RESOURCE_ENTRY*>(base + offset);
            EXPECT_EQ(entry->Flags, 0) << std::hex << id;  // single-byte text
            EXPECT_EQ(entry->Length % 4, 0) << std::hex << id;
            ASSERT_LE(offset + entry->Length, size);
            std::string text(reinterpret_cast<const char*>(entry->Text), entry->Length - 4);
            std::string raw = RawText(id);
            ASSERT_GT(text.size(), raw.size()) << std::hex << id << ": no terminating zero";
            EXPECT_EQ(text.substr(0, raw.size()), raw) << std::hex << id;
            EXPECT_EQ(text.substr(raw.size()), std::string(text.size() - raw.size(), '\0'));
            EXPECT_LT(text.size() - raw.size(), 5u);
            offset += entry->Length;
        }
    }
    EXPECT_EQ(entries, ExpectedLines().size());
    // Only this one language.
    std::vector<WORD> languages;
    EnumResourceLanguagesA(
        FModule, MAKEINTRESOURCEA(11), MAKEINTRESOURCEA(1),
        [](HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR param) -> BOOL {
            reinterpret_cast<std::vector<WORD>*>(param)->push_back(language);
            return TRUE;
        },
        reinterpret_cast<LONG_PTR>(&languages));
    EXPECT_EQ(languages, std::vector<WORD>{kEnglishUS});
}

// A resource-only library: no entry point and no exported function.
TEST(TwMsgsLibrary, HasNoEntryPointAndExportsNothing) {
    std::ifstream file(DllPath(), std::ios::binary);
    ASSERT_TRUE(file) << DllPath();
    std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_GT(bytes.size(), sizeof(IMAGE_DOS_HEADER));
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(bytes.data());
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(bytes.data() + dos->e_lfanew);
    ASSERT_EQ(nt->Signature, IMAGE_NT_SIGNATURE);
    EXPECT_TRUE(nt->FileHeader.Characteristics & IMAGE_FILE_DLL);
    EXPECT_EQ(nt->OptionalHeader.AddressOfEntryPoint, 0u);
    const IMAGE_DATA_DIRECTORY& exports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (exports.VirtualAddress == 0)
        return;
    // The linker may leave an empty export directory; it must name nothing.
    auto section = IMAGE_FIRST_SECTION(nt);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
        DWORD start = section->VirtualAddress;
        if (exports.VirtualAddress >= start &&
            exports.VirtualAddress < start + section->Misc.VirtualSize) {
            DWORD fileOffset = exports.VirtualAddress - start + section->PointerToRawData;
            ASSERT_LE(fileOffset + sizeof(IMAGE_EXPORT_DIRECTORY), bytes.size());
            auto dir = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(bytes.data() + fileOffset);
            EXPECT_EQ(dir->NumberOfFunctions, 0u);
            EXPECT_EQ(dir->NumberOfNames, 0u);
            return;
        }
    }
    ADD_FAILURE() << "export directory outside every section";
}
