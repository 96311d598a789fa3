// Drives a modal form the way a person would while the test's own thread sits
// in the form's modal loop: a second thread types into edits, presses buttons
// and picks list items with window messages. Sent messages return once the
// form's thread has handled them; a press that opens a nested modal form is
// posted instead, and the driver then waits for that form to appear.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <gdiplus.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace gui {

// Waits (polling) until the condition holds; false after the time-out. Only a
// guard against a hung test, never a measurement.
inline bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 15000) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        Sleep(5);
    }
    return true;
}

inline bool WaitVisible(HWND hwnd) {
    return WaitUntil([hwnd] { return IsWindowVisible(hwnd) != FALSE; });
}

inline bool WaitHidden(HWND hwnd) {
    return WaitUntil([hwnd] { return !IsWindowVisible(hwnd); });
}

// A visible top-level window of a process (by default this one) with that
// caption, or null.
inline HWND FindVisible(const char* caption, DWORD pid = GetCurrentProcessId()) {
    struct Search {
        const char* caption;
        DWORD pid;
        HWND found;
    } s{caption, pid, nullptr};
    EnumWindows(
        [](HWND h, LPARAM p) -> BOOL {
            auto* s = reinterpret_cast<Search*>(p);
            DWORD owner = 0;
            GetWindowThreadProcessId(h, &owner);
            // Visible ones only: a caption here is sent for, and its thread may have stopped.
            if (owner != s->pid || !IsWindowVisible(h))
                return TRUE;
            char text[256] = {};
            GetWindowTextA(h, text, sizeof text);
            if (strcmp(text, s->caption) == 0) {
                s->found = h;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&s));
    return s.found;
}

inline HWND WaitForWindow(const char* caption, DWORD pid = GetCurrentProcessId()) {
    HWND found = nullptr;
    WaitUntil([&] { return (found = FindVisible(caption, pid)) != nullptr; });
    return found;
}

// Typing: the edit's text is selected and replaced character by character.
inline void Type(HWND edit, const std::string& text) {
    SendMessageA(edit, EM_SETSEL, 0, -1);
    if (text.empty())
        SendMessageA(edit, WM_CHAR, VK_BACK, 0);
    for (unsigned char c : text)
        SendMessageA(edit, WM_CHAR, c, 1);
}

inline std::string Text(HWND hwnd) {
    char buf[1024] = {};
    SendMessageA(hwnd, WM_GETTEXT, sizeof buf, reinterpret_cast<LPARAM>(buf));
    return buf;
}

// A mouse click on a button (returns when the form has handled it).
inline void Click(HWND button) { SendMessageA(button, BM_CLICK, 0, 0); }

// A click whose handler opens a nested modal form: does not wait for it.
inline void PostClick(HWND button) { PostMessageA(button, BM_CLICK, 0, 0); }

// A key press through the form's message loop (Enter, Escape, F1, ...).
inline void PostKey(HWND target, UINT vk) {
    PostMessageA(target, WM_KEYDOWN, vk, 1);
    PostMessageA(target, WM_KEYUP, vk, 0xC0000001);
}

// Alt and a letter through the form's message loop, as the keyboard sends them.
inline void PostAltKey(HWND target, char letter) {
    const LPARAM alt = 1 | (1 << 29);
    PostMessageA(target, WM_SYSKEYDOWN, VK_MENU, alt);
    PostMessageA(target, WM_SYSKEYDOWN, static_cast<WPARAM>(toupper(letter)), alt);
    PostMessageA(target, WM_SYSKEYUP, static_cast<WPARAM>(toupper(letter)), alt | 0xC0000000);
    PostMessageA(target, WM_KEYUP, VK_MENU, 0xC0000001);
}

// The title-bar close box (also Alt+F4 and the system menu).
inline void PostCloseBox(HWND form) { PostMessageA(form, WM_SYSCOMMAND, SC_CLOSE, 0); }

// Puts the real pointer where a click is about to land. Between the button's
// down and up the control holds the mouse capture, and a mouse move the
// window system makes meanwhile reaches the control at the real pointer's
// position: a list box then moves its selection there.
inline void PointerTo(HWND window, LPARAM clientPoint) {
    POINT p{static_cast<short>(LOWORD(clientPoint)), static_cast<short>(HIWORD(clientPoint))};
    ClientToScreen(window, &p);
    SetCursorPos(p.x, p.y);
}

// For a sent click: the pointer put there and, while it lives, no mouse move
// that the window's thread (of this process) takes from its queue reaches a
// window. Other programs on the shared display make such moves at their own
// places, some late, and the control holding the capture between the down
// and the up would act on them. A posted click needs none: a thread takes
// posted messages before mouse input.
class StillPointer {
public:
    StillPointer(HWND window, LPARAM clientPoint)
        : FHook(SetWindowsHookExA(WH_GETMESSAGE, Drop, nullptr,
                                  GetWindowThreadProcessId(window, nullptr))) {
        PointerTo(window, clientPoint);
    }
    ~StillPointer() { UnhookWindowsHookEx(FHook); }

private:
    static LRESULT CALLBACK Drop(int code, WPARAM wParam, LPARAM lParam) {
        if (code == HC_ACTION && reinterpret_cast<MSG*>(lParam)->message == WM_MOUSEMOVE)
            reinterpret_cast<MSG*>(lParam)->message = WM_NULL;
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    HHOOK FHook;
};

// A click on a list box line (selects it and notifies the form), and a
// double click on it.
inline void ClickListItem(HWND list, int index, bool dbl = false) {
    RECT r{};
    SendMessageA(list, LB_GETITEMRECT, index, reinterpret_cast<LPARAM>(&r));
    LPARAM pt = MAKELPARAM(r.left + 2, r.top + 2);
    StillPointer still(list, pt);
    SendMessageA(list, WM_LBUTTONDOWN, MK_LBUTTON, pt);
    SendMessageA(list, WM_LBUTTONUP, 0, pt);
    if (dbl) {
        SendMessageA(list, WM_LBUTTONDBLCLK, MK_LBUTTON, pt);
        SendMessageA(list, WM_LBUTTONUP, 0, pt);
    }
}

// A double click on a line whose handler opens a nested modal form: posted,
// so the driver does not wait for it.
inline void PostDoubleClickListItem(HWND list, int index) {
    RECT r{};
    SendMessageA(list, LB_GETITEMRECT, index, reinterpret_cast<LPARAM>(&r));
    LPARAM pt = MAKELPARAM(r.left + 2, r.top + 2);
    PointerTo(list, pt);
    PostMessageA(list, WM_LBUTTONDOWN, MK_LBUTTON, pt);
    PostMessageA(list, WM_LBUTTONUP, 0, pt);
    PostMessageA(list, WM_LBUTTONDBLCLK, MK_LBUTTON, pt);
    PostMessageA(list, WM_LBUTTONUP, 0, pt);
}

// Sends a message that should come back at once; false when the form's
// thread did not answer in time (for example because a modal form opened).
inline bool SendReturns(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(hwnd, msg, wParam, lParam, SMTO_NORMAL, 5000, &result) != 0;
}

// A double click on the empty area below the last line of a list box.
inline void DoubleClickEmptyListArea(HWND list) {
    RECT r{};
    GetClientRect(list, &r);
    LPARAM pt = MAKELPARAM(r.left + 2, r.bottom - 2);
    StillPointer still(list, pt);
    SendReturns(list, WM_LBUTTONDOWN, MK_LBUTTON, pt);
    SendReturns(list, WM_LBUTTONUP, 0, pt);
    EXPECT_TRUE(SendReturns(list, WM_LBUTTONDBLCLK, MK_LBUTTON, pt));
    SendReturns(list, WM_LBUTTONUP, 0, pt);
}

// Picks an item of a drop-down list as the keyboard does: the selection
// moves and the form is told of the change.
inline void PickComboItem(HWND combo, int index) {
    SendMessageA(combo, CB_SETCURSEL, index, 0);
    SendMessageA(GetParent(combo), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(combo), CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(combo));
}

inline HWND Item(HWND form, int id) { return GetDlgItem(form, id); }

// The window that has the keyboard focus on the thread of the given window
// (GetFocus answers only for the calling thread).
inline HWND FocusOf(HWND window) {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
    return info.hwndFocus;
}

inline bool Checked(HWND box) { return SendMessageA(box, BM_GETCHECK, 0, 0) == BST_CHECKED; }

// Runs a script on a second thread; when the script ends (or fails) every
// form of the test's thread still on screen is closed, so that a failed test
// never leaves the modal loop hanging.
class Driver {
public:
    explicit Driver(std::function<void()> script)
        : FUiThread(GetCurrentThreadId()), FThread([this, script] {
              script();
              CloseLeftovers();
          }) {}
    ~Driver() { FThread.join(); }

private:
    static BOOL CALLBACK AnyVisible(HWND h, LPARAM p) {
        if (IsWindowVisible(h))
            *reinterpret_cast<bool*>(p) = true;
        return TRUE;
    }
    void CloseLeftovers() {
        // A close the script asked for may still be on its way.
        WaitUntil(
            [this] {
                bool any = false;
                EnumThreadWindows(FUiThread, AnyVisible, reinterpret_cast<LPARAM>(&any));
                return !any;
            },
            3000);
        for (int round = 0; round < 20; ++round) {
            bool any = false;
            EnumThreadWindows(
                FUiThread,
                [](HWND h, LPARAM p) -> BOOL {
                    if (IsWindowVisible(h)) {
                        *reinterpret_cast<bool*>(p) = true;
                        PostMessageA(h, WM_CLOSE, 0, 0);
                    }
                    return TRUE;
                },
                reinterpret_cast<LPARAM>(&any));
            if (!any)
                return;
            ADD_FAILURE() << "a form was left on screen by the driver script";
            Sleep(200);
        }
    }
    DWORD FUiThread;
    std::thread FThread;
};

// Paints a window and its visible children into dc, each at its place (at:
// the window's top left in dc), as PrintWindow does: WM_ERASEBKGND and
// WM_PRINTCLIENT per window, children bottom of the z-order first, each
// clipped to its parent's client area; frames, captions and scroll bar
// buttons are drawn here, since Wine's WM_PRINT paints neither children nor
// frames. Each client area is painted into a bitmap of its own, starting from
// what lies below it: controls take their DC's origin for their window's.
// Nothing is read from the screen, so windows of other tests that cover this
// one on the shared display never show.
inline void PrintTree(HWND hwnd, HDC dc, POINT at) {
    RECT wr, cr;
    GetWindowRect(hwnd, &wr);
    GetClientRect(hwnd, &cr);
    POINT client{0, 0};
    ClientToScreen(hwnd, &client);
    const int cx = at.x + client.x - wr.left, cy = at.y + client.y - wr.top;
    const LONG style = GetWindowLongA(hwnd, GWL_STYLE), ex = GetWindowLongA(hwnd, GWL_EXSTYLE);
    int saved = SaveDC(dc);
    RECT frame{at.x, at.y, at.x + wr.right - wr.left, at.y + wr.bottom - wr.top};
    IntersectClipRect(dc, frame.left, frame.top, frame.right, frame.bottom);
    if (!(style & WS_CHILD)) {
        FillRect(dc, &frame, GetSysColorBrush(COLOR_BTNFACE));
        DrawEdge(dc, &frame, EDGE_RAISED, BF_RECT | BF_ADJUST);
        RECT caption{frame.left, frame.top, frame.right, cy};
        DrawCaption(hwnd, dc, &caption, DC_ACTIVE | DC_TEXT | DC_GRADIENT);
    } else if (ex & WS_EX_CLIENTEDGE) {
        DrawEdge(dc, &frame, EDGE_SUNKEN, BF_RECT);
    } else if (ex & WS_EX_STATICEDGE) {
        DrawEdge(dc, &frame, BDR_SUNKENOUTER, BF_RECT);
    } else if (style & WS_BORDER) {
        FrameRect(dc, &frame, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    }
    if (style & WS_VSCROLL) {  // the bar with its two buttons
        const int w = GetSystemMetrics(SM_CXVSCROLL), h = GetSystemMetrics(SM_CYVSCROLL);
        RECT bar{cx + cr.right, cy, cx + cr.right + w, cy + cr.bottom}, up{bar}, down{bar};
        FillRect(dc, &bar, GetSysColorBrush(COLOR_SCROLLBAR));
        up.bottom = bar.top + h, down.top = bar.bottom - h;
        DrawFrameControl(dc, &up, DFC_SCROLL, DFCS_SCROLLUP);
        DrawFrameControl(dc, &down, DFC_SCROLL, DFCS_SCROLLDOWN);
    }
    IntersectClipRect(dc, cx, cy, cx + cr.right, cy + cr.bottom);
    if (cr.right > 0 && cr.bottom > 0) {
        HDC own = CreateCompatibleDC(dc);
        HGDIOBJ bmp = SelectObject(own, CreateCompatibleBitmap(dc, cr.right, cr.bottom));
        BitBlt(own, 0, 0, cr.right, cr.bottom, dc, cx, cy, SRCCOPY);
        SendMessageA(hwnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(own), 0);
        SendMessageA(hwnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(own), PRF_CLIENT | PRF_ERASEBKGND);
        BitBlt(dc, cx, cy, cr.right, cr.bottom, own, 0, 0, SRCCOPY);
        DeleteObject(SelectObject(own, bmp));
        DeleteDC(own);
    }
    HWND top = GetWindow(hwnd, GW_CHILD);
    for (HWND c = top ? GetWindow(top, GW_HWNDLAST) : nullptr; c != nullptr; c = GetWindow(c, GW_HWNDPREV)) {
        RECT r;
        if (IsWindowVisible(c) && GetWindowRect(c, &r))
            PrintTree(c, dc, {at.x + r.left - wr.left, at.y + r.top - wr.top});
    }
    RestoreDC(dc, saved);
}

// The pixels the display shows in a rectangle of the screen (what a person
// sees; PrintTree shows what windows would paint), once two readings agree.
inline std::vector<DWORD> ScreenPixels(const RECT& r) {
    const int w = r.right - r.left, h = r.bottom - r.top;
    BITMAPINFO info{{sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0}, {}};
    std::vector<DWORD> last, now;
    WaitUntil([&] {
        HDC screen = GetDC(nullptr), mem = CreateCompatibleDC(screen);
        void* bits = nullptr;
        HGDIOBJ old = SelectObject(mem, CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits,
                                                         nullptr, 0));
        BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
        last.swap(now);
        now.assign(static_cast<DWORD*>(bits), static_cast<DWORD*>(bits) + w * h);
        DeleteObject(SelectObject(mem, old));
        DeleteDC(mem);
        ReleaseDC(nullptr, screen);
        Sleep(100);
        return now == last;
    });
    return now;
}

// Saves a picture of a window (PrintTree) as a PNG beside the test program,
// in a folder "screenshots". Returns the path, or empty on failure.
inline std::string SaveScreenshot(HWND hwnd, const std::string& name) {
    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string dir(exe);
    dir.erase(dir.find_last_of('\\') + 1);
    dir += "screenshots";
    CreateDirectoryA(dir.c_str(), nullptr);
    std::string path = dir + "\\" + name + ".png";

    RECT r;
    GetWindowRect(hwnd, &r);
    HDC screen = GetDC(nullptr);  // only for the pixel format
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, r.right - r.left, r.bottom - r.top);
    HGDIOBJ old = SelectObject(mem, bmp);
    PrintTree(hwnd, mem, {0, 0});
    SelectObject(mem, old);

    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    bool ok = false;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) == Gdiplus::Ok) {
        {
            Gdiplus::Bitmap image(bmp, nullptr);
            // The PNG encoder's class id.
            const CLSID png = {0x557cf406, 0x1a04, 0x11d3, {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};
            std::wstring wpath(path.begin(), path.end());
            ok = image.Save(wpath.c_str(), &png, nullptr) == Gdiplus::Ok;
        }
        Gdiplus::GdiplusShutdown(token);
    }
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return ok ? path : std::string();
}

}  // namespace gui
