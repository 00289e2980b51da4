// Runs the real saver window on the offscreen display, in a scratch home,
// with the test scripting what happens at which moment of the virtual clock.
#pragma once

#include <functional>
#include <vector>

#include "display/saver_proc.h"
#include "display/saver_state.h"
#include "host/host.h"
#include "platform/headless/headless.h"
#include "platform/store_test_support.h"

class SaverTest : public ScratchStoreTest {
protected:
    void SetUp() override {
        ScratchStoreTest::SetUp();
        setenv("KALEIDRA_BACKEND", "headless", 1);
        ResetSaverState();
        Host() = HostState{};
        SetPasswordProvider(nullptr);
    }

    void TearDown() override {
        ShutdownPlatform();
        opened = false;
        ticks.clear();
        window = nullptr;
        ResetSaverState();
        ScratchStoreTest::TearDown();
    }

    // Opens the display with `config`; RunSaver does it when the test has not.
    void Open() {
        headless::Configure(config);
        ASSERT_TRUE(InitPlatform(nullptr));
        opened = true;
        start = headless::Now();
        headless::ObserveDispatch([this](const MSG& m) {
            if (m.message == WM_TIMER) ticks.push_back(headless::Now() - start);
        });
    }

    // Runs the saver (full screen, or preview inside `parent`) until it quits;
    // `script` runs once the window exists, before its first tick.
    int RunSaver(std::function<void(HWND)> script, HWND parent = nullptr) {
        if (!opened) Open();
        headless::At(start, [this, script] {
            window = Host().saverWindow;
            script(window);
        });
        return RunSaverWindow(parent);
    }

    // Something to happen `ms` after the saver started.
    void After(std::uint64_t ms, std::function<void()> action) { headless::At(start + ms, std::move(action)); }

    // True when a WM_CLOSE waits in the queue.
    bool ClosePosted() {
        MSG m;
        return PeekMessage(&m, window, WM_CLOSE, WM_CLOSE, PM_NOREMOVE);
    }

    headless::Config config;
    bool opened = false;
    std::uint64_t start = 0;
    HWND window = nullptr;
    std::vector<std::uint64_t> ticks;  // when each WM_TIMER was dispatched, from the start
};
