#include "platform/modal_loop.h"

#include "platform/window.h"

bool RunModalLoop(const bool& done) {
    MSG msg;
    while (!done) {
        if (!GetMessage(&msg, nullptr, 0, 0)) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return false;
        }
        TranslateMessage(&msg);
        DispatchMessage(&msg);
    }
    return true;
}

void WakeModalLoop() { PostMessage(nullptr, WM_NULL, 0, 0); }
