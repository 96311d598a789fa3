#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ServiceBatches.h"
#include "TestServices.h"
#include "win32/ServiceStatusEnumerator.h"

TEST(ServiceStatusEnumerator, ListsInstalledServicesOnceWithTheirState) {
    std::string prefix = UniqueName("TwEnum");
    std::vector<std::unique_ptr<TTestService>> services;
    for (int i = 0; i < 4; ++i) {
        services.push_back(std::make_unique<TTestService>(prefix + "_" + std::to_string(i),
                                                          "Enumerator test " + std::to_string(i)));
        ASSERT_TRUE(services.back()->Installed()) << services.back()->InstallError();
    }
    // Kernel and file-system drivers are left out of the walk.
    std::vector<std::string> drivers;
    {
        SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, GENERIC_READ);
        std::vector<BYTE> buffer(64 * 1024);
        DWORD needed = 0, returned = 0, resume = 0;
        if (EnumServicesStatusA(manager, SERVICE_DRIVER, SERVICE_STATE_ALL,
                                reinterpret_cast<LPENUM_SERVICE_STATUSA>(buffer.data()),
                                static_cast<DWORD>(buffer.size()), &needed, &returned, &resume)) {
            auto* e = reinterpret_cast<ENUM_SERVICE_STATUSA*>(buffer.data());
            for (DWORD i = 0; i < returned; ++i)
                drivers.push_back(e[i].lpServiceName);
        }
        CloseServiceHandle(manager);
    }

    TCountingEnumerator walk;
    EXPECT_FALSE(walk.Next());  // not opened
    ASSERT_TRUE(walk.Open());
    std::map<std::string, int> seen;
    std::map<std::string, DWORD> state;
    int entries = 0;
    while (walk.Next()) {
        ASSERT_NE(walk.Current(), nullptr);
        ++entries;
        seen[walk.Current()->lpServiceName]++;
        state[walk.Current()->lpServiceName] = walk.Current()->ServiceStatus.dwCurrentState;
        EXPECT_EQ(walk.Current()->ServiceStatus.dwServiceType & SERVICE_DRIVER, 0u)
            << walk.Current()->lpServiceName;
    }
    for (const auto& s : services) {
        EXPECT_EQ(seen[s->Name()], 1) << s->Name();
        EXPECT_EQ(state[s->Name()], static_cast<DWORD>(SERVICE_STOPPED));
    }
    for (const std::string& d : drivers)
        EXPECT_EQ(seen.count(d), 0u) << d;
    // The service control manager's own services run in every prefix.
    EXPECT_GT(entries, static_cast<int>(services.size()));

    // At the end: false again and again, without asking the platform.
    int calls = walk.Calls;
    EXPECT_FALSE(walk.Next());
    EXPECT_FALSE(walk.Next());
    EXPECT_EQ(walk.Calls, calls);
    walk.Close();
    walk.Close();  // closing an inactive enumerator does nothing
    EXPECT_FALSE(walk.Next());
}

TEST(ServiceStatusEnumerator, SecondOpenLeavesTheWalkAlone) {
    TServiceStatusEnumerator walk;
    ASSERT_TRUE(walk.Open());
    ASSERT_TRUE(walk.Next());
    std::string first = walk.Current()->lpServiceName;
    ASSERT_TRUE(walk.Next());
    std::string second = walk.Current()->lpServiceName;
    EXPECT_FALSE(walk.Open());
    EXPECT_TRUE(walk.Active());
    EXPECT_EQ(walk.Index(), 1u);
    EXPECT_EQ(std::string(walk.Current()->lpServiceName), second);
    walk.Close();
    EXPECT_FALSE(walk.Active());
    // A new walk starts again at the first service.
    ASSERT_TRUE(walk.Open());
    ASSERT_TRUE(walk.Next());
    EXPECT_EQ(std::string(walk.Current()->lpServiceName), first);
    TServiceStatusEnumerator neverOpened;  // freed without ever opening
}

TEST(ServiceStatusEnumerator, WalksSeveralBatchesThroughTheResumeHandle) {
    // Windows' answer, served from a list of 150 services: the walk needs
    // several 8192-byte batches and must list each entry exactly once.
    std::vector<TListedService> list;
    for (int i = 0; i < 150; ++i) {
        SERVICE_STATUS status{};
        status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
        status.dwCurrentState = i % 3 == 0 ? SERVICE_RUNNING : SERVICE_STOPPED;
        list.push_back({"BatchService" + std::to_string(i),
                        "A display name long enough to fill batches quickly, number " +
                            std::to_string(i),
                        status});
    }
    TCountingEnumerator walk;
    std::vector<DWORD> resumeSeen;
    walk.Answer = [&](LPENUM_SERVICE_STATUSA buffer, DWORD size, DWORD& needed, DWORD& returned,
                      DWORD& resume) {
        EXPECT_EQ(size, 8192u);
        resumeSeen.push_back(resume);
        return AnswerInBatches(list, buffer, size, needed, returned, resume);
    };
    ASSERT_TRUE(walk.Open());
    size_t position = 0;
    int batchStarts = 0;
    while (walk.Next()) {
        ASSERT_LT(position, list.size());
        EXPECT_EQ(std::string(walk.Current()->lpServiceName), list[position].Name);
        EXPECT_EQ(walk.Current()->ServiceStatus.dwCurrentState,
                  list[position].Status.dwCurrentState);
        if (walk.Index() == 0)
            ++batchStarts;
        // Only the first entry of a batch costs a platform call.
        EXPECT_EQ(walk.Calls, batchStarts);
        ++position;
    }
    EXPECT_EQ(position, list.size());
    EXPECT_GT(batchStarts, 2);
    ASSERT_EQ(resumeSeen.size(), static_cast<size_t>(batchStarts));
    EXPECT_EQ(resumeSeen[0], 0u);
    for (size_t i = 1; i < resumeSeen.size(); ++i)
        EXPECT_GT(resumeSeen[i], resumeSeen[i - 1]);
    EXPECT_TRUE(walk.LastBatch());
    EXPECT_FALSE(walk.Next());
    EXPECT_EQ(walk.Calls, batchStarts);
}

TEST(ServiceStatusEnumerator, ReadsNoEntriesFromAFailedBatch) {
    // Wine reports a count from calls that fail, with no entries written.
    struct TCase {
        DWORD Error;
        DWORD Count;
    } cases[] = {{ERROR_INSUFFICIENT_BUFFER, 16}, {ERROR_INVALID_HANDLE, 5}, {ERROR_MORE_DATA, 77}};
    for (const TCase& c : cases) {
        TCountingEnumerator walk;
        walk.Answer = [&](LPENUM_SERVICE_STATUSA, DWORD, DWORD& needed, DWORD& returned,
                          DWORD&) {
            needed = 30000;
            returned = c.Count;
            SetLastError(c.Error);
            return FALSE;
        };
        ASSERT_TRUE(walk.Open());
        EXPECT_FALSE(walk.Next()) << c.Error;
        EXPECT_EQ(walk.Current(), nullptr);
        EXPECT_EQ(walk.Count(), 0u);
        EXPECT_FALSE(walk.Next());
        EXPECT_EQ(walk.Calls, 1) << "the walk ends after a failed batch";
    }
}

TEST(ServiceStatusEnumerator, EndsWhenThePlatformDoesNotResume) {
    // Entries delivered with ERROR_MORE_DATA but the resume handle left where
    // it was (Wine's manager) would come back forever: the walk ends after them.
    std::vector<TListedService> list = {
        {"One", "First", SERVICE_STATUS{SERVICE_WIN32_OWN_PROCESS, SERVICE_RUNNING, 0, 0, 0, 0, 0}},
        {"Two", "Second", SERVICE_STATUS{SERVICE_WIN32_OWN_PROCESS, SERVICE_STOPPED, 0, 0, 0, 0, 0}}};
    TCountingEnumerator walk;
    walk.Answer = [&](LPENUM_SERVICE_STATUSA buffer, DWORD size, DWORD& needed, DWORD& returned,
                      DWORD& resume) {
        DWORD keep = resume;
        AnswerInBatches(list, buffer, size, needed, returned, resume);
        resume = keep;
        needed = 5000;
        SetLastError(ERROR_MORE_DATA);
        return FALSE;
    };
    ASSERT_TRUE(walk.Open());
    ASSERT_TRUE(walk.Next());
    EXPECT_EQ(std::string(walk.Current()->lpServiceName), "One");
    ASSERT_TRUE(walk.Next());
    EXPECT_EQ(std::string(walk.Current()->lpServiceName), "Two");
    EXPECT_FALSE(walk.Next());
    EXPECT_EQ(walk.Calls, 1);
}

TEST(ServiceStatusEnumerator, BatchGuardsHoldTheBufferAndTheFailureKind) {
    const DWORD size = 4 * sizeof(ENUM_SERVICE_STATUSA);
    EXPECT_TRUE(ServiceBatchReadable(TRUE, ERROR_SUCCESS, 4, size));
    EXPECT_FALSE(ServiceBatchReadable(TRUE, ERROR_SUCCESS, 5, size)) << "one entry too many";
    // Its byte size is 0 in 32 bits.
    EXPECT_FALSE(ServiceBatchReadable(TRUE, ERROR_SUCCESS, 0x80000000u, size));
    EXPECT_TRUE(ServiceBatchReadable(FALSE, ERROR_MORE_DATA, 4, size));
    EXPECT_FALSE(ServiceBatchReadable(FALSE, ERROR_INSUFFICIENT_BUFFER, 1, size));

    char buffer[16];
    EXPECT_TRUE(InsideServiceBatch(buffer, buffer, sizeof buffer));
    EXPECT_TRUE(InsideServiceBatch(buffer + 15, buffer, sizeof buffer));
    EXPECT_FALSE(InsideServiceBatch(buffer + 16, buffer, sizeof buffer));
    EXPECT_FALSE(InsideServiceBatch(nullptr, buffer, sizeof buffer));
}
