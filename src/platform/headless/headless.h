// The offscreen display that tests drive: monitors, the clock, input and the
// pictures on screen are all the test's to set and read.
#pragma once

#include <cairo.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/menu.h"
#include "platform/window.h"

namespace headless {

struct Config {
    std::vector<Rect> monitors{Rect{0, 0, 1920, 1080}};
    int dpiY = 96;
};

// Takes effect for the display opened by the next InitPlatform.
void Configure(const Config& config);

// The virtual clock moves only through these, or when the message loop has
// nothing to do and jumps to the next timer or scripted action.
std::uint64_t Now();
void Advance(std::uint64_t ms);

// Runs `action` on the GUI thread once the clock reaches `atMs`.
void At(std::uint64_t atMs, std::function<void()> action);
// Runs when the loop would otherwise wait forever; a test without one fails
// loudly instead of hanging.
void OnIdle(std::function<void()> action);

// Input as the display would deliver it to a window (client coordinates).
void Key(HWND hwnd, WPARAM vk, bool alt = false);
void MouseMove(HWND hwnd, int x, int y);
void Button(HWND hwnd, UINT message, int x, int y);
void SetCursorPos(Point screen);
bool CursorVisible();

// A window of "another program", for previews and dialog owners.
unsigned long AddForeignWindow(int width, int height);
void RemoveForeignWindow(unsigned long id);
// The display destroys one of the program's windows behind its back, as X
// does when another program's window holding it goes away.
void TakeAwayWindow(HWND hwnd);

// Called with every message the loop dispatches, until the display closes.
void ObserveDispatch(std::function<void(const MSG&)> observer);

cairo_surface_t* Surface(HWND hwnd);
bool WritePng(HWND hwnd, const std::string& path);
// What the screen shows: the back buffer as presented by the last EndPaint.
std::uint32_t PixelAt(HWND hwnd, int x, int y);
int PresentCount(HWND hwnd);

// The open dialog (the innermost one), driven by control id as the user
// would drive it. Each call expects a dialog to be open and the control to
// exist; reading a missing one answers "", false or 0.
bool DialogOpen();
std::string DialogItemText(int id);
bool DialogItemChecked(int id);
int DialogSliderPos(int id);
// Presses a push button, or toggles a check box.
void ClickDialogItem(int id);
// Drags a trackbar to `pos`, kept within its range.
void MoveDialogSlider(int id, int pos);
// VK_RETURN presses the default button, VK_ESCAPE cancels.
void DialogKey(WPARAM vk);
// The window's close button.
void CloseDialog();
// The folder browser's next answer: a path chosen, or nullopt for Cancel.
// Each opening takes one answer; with none queued the user cancels. Answers
// left over when a dialog closes are dropped.
void AnswerFolderBrowser(std::optional<std::string> path);

// Answers the next popup menus: called with the items as built and the
// screen point, it answers the id to choose (0 dismisses). Without one,
// every menu is dismissed.
void OnMenu(std::function<UINT(const std::vector<MenuItem>&, Point)> chooser);

}  // namespace headless
