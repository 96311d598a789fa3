// The service's only trace channel: the debugger output.
#pragma once

#include <string>

// Sends the message followed by CR LF to OutputDebugStringA; nothing is added
// before it, and it goes out whether or not a debugger listens.
void DebugTrace(const std::string& message);
