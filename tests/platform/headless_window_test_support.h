// A scratch home, the offscreen display and one plain top-level window, for
// tests of code that draws into, invalidates or owns windows.
#pragma once

#include "platform/headless/headless.h"
#include "platform/store_test_support.h"
#include "platform/window.h"

class HeadlessWindowTest : public ScratchStoreTest {
protected:
    void SetUp() override {
        ScratchStoreTest::SetUp();
        setenv("KALEIDRA_BACKEND", "headless", 1);
        ASSERT_TRUE(InitPlatform(nullptr));
        WNDCLASS wc;
        wc.lpfnWndProc = DefWindowProc;
        wc.lpszClassName = "TestWindow";
        RegisterClass(wc);
        hwnd = CreateWindowEx(0, "TestWindow", "test", WS_POPUP, 0, 0, 1000, 800, nullptr, nullptr);
        ASSERT_NE(hwnd, nullptr);
    }

    void TearDown() override {
        ShutdownPlatform();
        ScratchStoreTest::TearDown();
    }

    HWND hwnd = nullptr;
};
