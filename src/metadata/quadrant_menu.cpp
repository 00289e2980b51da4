#include "metadata/quadrant_menu.h"

// No commands exist yet: the menu is dismissed at once.
void ShowQuadrantMenu(HWND, Quadrant*, int, int) {}
