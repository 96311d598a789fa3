#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "lib/BWDebug.h"

namespace {

// OutputDebugStringA raises DBG_PRINTEXCEPTION_C (length with the zero, text)
// before it looks for a debugger; a vectored handler sees the text first.
std::vector<std::string>* gCaptured = nullptr;

LONG CALLBACK CaptureDebugPrint(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* r = info->ExceptionRecord;
    if (gCaptured != nullptr && r->ExceptionCode == DBG_PRINTEXCEPTION_C &&
        r->NumberParameters >= 2) {
        size_t length = static_cast<size_t>(r->ExceptionInformation[0]);
        const char* text = reinterpret_cast<const char*>(r->ExceptionInformation[1]);
        gCaptured->emplace_back(text, length > 0 ? length - 1 : 0);
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

std::vector<std::string> Trace(const std::string& message) {
    std::vector<std::string> captured;
    gCaptured = &captured;
    PVOID handler = AddVectoredExceptionHandler(1, CaptureDebugPrint);
    DebugTrace(message);
    RemoveVectoredExceptionHandler(handler);
    gCaptured = nullptr;
    return captured;
}

}  // namespace

TEST(BWDebug, SendsTheMessageWithCrLfAndNothingElse) {
    std::vector<std::string> empty = Trace("");
    if (empty.empty())
        GTEST_SKIP() << "this platform raised no debug-print exception to observe";
    EXPECT_EQ(empty, std::vector<std::string>{"\r\n"});
    EXPECT_EQ(Trace("Loading config"), std::vector<std::string>{"Loading config\r\n"});
    EXPECT_EQ(Trace("An exception occurred: boom"),
              std::vector<std::string>{"An exception occurred: boom\r\n"});
}
