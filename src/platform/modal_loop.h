// The modal loop of menus and dialogs: it dispatches every message of the
// thread, so the saver's timers and paints go on while it runs.
#pragma once

// Gets and dispatches the thread's messages until `done` turns true; whoever
// sets it calls WakeModalLoop. False when WM_QUIT arrived (posted again).
bool RunModalLoop(const bool& done);
// How many menu and dialog loops are running now: their windows belong
// above the full-screen saver while they are open.
int ModalLoopDepth();
void WakeModalLoop();
