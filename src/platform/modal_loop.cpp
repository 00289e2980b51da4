#include "platform/modal_loop.h"

#include "platform/window.h"

namespace {
int depth = 0;
}  // namespace

int ModalLoopDepth() { return depth; }

bool RunModalLoop(const bool& done) {
    struct Depth {
        Depth() { ++depth; }
        ~Depth() { --depth; }
    } counted;
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
