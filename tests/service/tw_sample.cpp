// A program to be watched: runs until a file <its path>.stop appears (or, with
// a number of milliseconds as its second argument, until that time is over),
// then ends with the exit code given as its first argument (default 0).
#include <windows.h>

#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    unsigned long code = argc > 1 ? std::strtoul(argv[1], nullptr, 0) : 0;
    DWORD limit = argc > 2 ? std::strtoul(argv[2], nullptr, 0) : INFINITE;
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string stopFile = std::string(path, n) + ".stop";
    DWORD start = GetTickCount();
    while (GetFileAttributesA(stopFile.c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (limit != INFINITE && GetTickCount() - start >= limit)
            break;
        Sleep(100);
    }
    return static_cast<int>(code);
}
