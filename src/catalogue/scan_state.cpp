#include "catalogue/scan_state.h"

#include "diag/debug_log.h"
#include "display/saver_state.h"
#include "imaging/graphics_state.h"

void SaveScanState(HWND hwnd) {
    // The walk has no position to keep yet; only the teardown runs.
    if (saverTimerId != 0) KillTimer(hwnd, saverTimerId);
    saverTimerId = 0;
    StopGdiplus();
    CloseDebugLog();
}
