// How each display shows a popup menu. Both answer the chosen id, 0 when dismissed.
#pragma once

#include "platform/menu.h"

UINT TrackGtkMenu(const Menu& menu, Point screen, HWND owner);
UINT TrackHeadlessMenu(const Menu& menu, Point screen, HWND owner);
