// The walk's resume state in the store, and the teardown that follows it.
#pragma once

#include "platform/window.h"

// Stores the walk, then brings the saver's machinery down in its fixed order.
void SaveScanState(HWND hwnd);
