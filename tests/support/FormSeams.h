// Test doubles for the form layer's seams: message boxes are recorded and
// answered, help requests recorded. Installed for the life of the object.
#pragma once

#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

#include "rtl/Forms.h"

namespace gui {

struct RecordedBox {
    TMessageBoxRequest Request;
    HWND FocusWhenShown = nullptr;
};

class Seams {
public:
    Seams() {
        Application().OnMessageBox = [this](const TMessageBoxRequest& r) {
            std::lock_guard<std::mutex> lock(FMutex);
            FBoxes.push_back({r, GetFocus()});
            return FAnswer;
        };
        Application().OnHelp = [this](unsigned command, std::uintptr_t data) {
            std::lock_guard<std::mutex> lock(FMutex);
            FHelp.push_back({command, data});
            return true;
        };
    }
    ~Seams() {
        Application().OnMessageBox = nullptr;
        Application().OnHelp = nullptr;
    }
    void Answer(int modalResult) {
        std::lock_guard<std::mutex> lock(FMutex);
        FAnswer = modalResult;
    }
    std::vector<RecordedBox> Boxes() const {
        std::lock_guard<std::mutex> lock(FMutex);
        return FBoxes;
    }
    size_t BoxCount() const {
        std::lock_guard<std::mutex> lock(FMutex);
        return FBoxes.size();
    }
    RecordedBox LastBox() const {
        std::lock_guard<std::mutex> lock(FMutex);
        return FBoxes.empty() ? RecordedBox{} : FBoxes.back();
    }
    std::vector<std::pair<unsigned, std::uintptr_t>> Help() const {
        std::lock_guard<std::mutex> lock(FMutex);
        return FHelp;
    }

private:
    mutable std::mutex FMutex;
    std::vector<RecordedBox> FBoxes;
    std::vector<std::pair<unsigned, std::uintptr_t>> FHelp;
    int FAnswer = mrOk;
};

}  // namespace gui
