// The worker thread and the GUI thread's wait for it.
#include "platform/worker.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/window.h"

namespace {

// A quit taken while the GUI thread waits must neither be lost (the program
// would never end) nor leave the work running on.
TEST(WorkerTest, AQuitDuringTheWorkCancelsItAndIsPostedAgain) {
    bool sawCancel = false;
    RunOffGuiThread([&](const std::atomic<bool>& cancelled) {
        PostQuitMessage(3);
        for (int i = 0; i < 300 && !cancelled.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        sawCancel = cancelled.load();
    });
    EXPECT_TRUE(sawCancel);
    MSG msg;
    ASSERT_TRUE(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(msg.wParam, 3u);
}

}  // namespace
