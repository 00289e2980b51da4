// The run state of the graphics machinery (decoding, turning and drawing
// pictures and text). Images are made and drawn only while it runs; after a
// failed start nothing is retried, pictures come out empty and drawing
// yields nothing, so the saver degrades quietly instead of failing.
#pragma once

#include <cstdint>

constexpr std::int32_t kGraphicsOk = 0;
constexpr std::int32_t kGraphicsGenericError = 1;
constexpr std::int32_t kGraphicsUnsupportedVersion = 17;
constexpr std::int32_t kGraphicsNotInitialized = 18;

struct GdiplusState {
    // Result of the last start: not initialised (not running), Ok (running),
    // anything else a failed start.
    std::int32_t status = kGraphicsNotInitialized;
};

extern GdiplusState gdiplusState;

// Starts the machinery only when it is not running; a failed start sticks.
void StartGdiplus();
// Back to not running, whatever the state was.
void StopGdiplus();
bool GraphicsRunning();
