#include "BWDebug.h"

#include <windows.h>

void DebugTrace(const std::string& message) {
    std::string line = message + "\r\n";
    OutputDebugStringA(line.c_str());
}
