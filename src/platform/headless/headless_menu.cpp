#include "platform/headless/headless.h"
#include "platform/menu_internal.h"

namespace {
std::function<UINT(const std::vector<MenuItem>&, Point)> gChooser;
}

void headless::OnMenu(std::function<UINT(const std::vector<MenuItem>&, Point)> chooser) { gChooser = std::move(chooser); }

UINT TrackHeadlessMenu(const Menu& menu, Point screen, HWND) { return gChooser ? gChooser(menu.items, screen) : 0; }
