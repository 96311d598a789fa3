// Event types through which the mail client reports its delivery steps.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

class TObject;

enum TBWLogLevel : std::uint8_t {
    llVerbose = 0,
    llInfo = 1,
    llWarning = 2,
    llError = 3,
};

// Sender, Level, Code, Msg. An empty function is an unassigned event.
using TBWLogEvent =
    std::function<void(TObject* Sender, TBWLogLevel Level, int Code, const std::string& Msg)>;
