#include "platform/x11/keymap.h"

#include <X11/XF86keysym.h>
#include <X11/keysym.h>

#include "platform/messages.h"

WPARAM VirtualKeyFromKeysym(unsigned long ks) {
    if (ks >= XK_a && ks <= XK_z) return 'A' + (ks - XK_a);
    if (ks >= XK_A && ks <= XK_Z) return 'A' + (ks - XK_A);
    if (ks >= XK_0 && ks <= XK_9) return '0' + (ks - XK_0);
    if (ks >= XK_KP_0 && ks <= XK_KP_9) return 0x60 + (ks - XK_KP_0);
    if (ks >= XK_F1 && ks <= XK_F24) return VK_F1 + (ks - XK_F1);
    switch (ks) {
    case XK_BackSpace: return VK_BACK;
    case XK_Tab: case XK_ISO_Left_Tab: return VK_TAB;
    case XK_Return: case XK_KP_Enter: return VK_RETURN;
    case XK_Shift_L: case XK_Shift_R: return VK_SHIFT;
    case XK_Control_L: case XK_Control_R: return VK_CONTROL;
    case XK_Alt_L: case XK_Alt_R: case XK_Meta_L: case XK_Meta_R: case XK_ISO_Level3_Shift: return VK_MENU;
    case XK_Pause: return VK_PAUSE;
    case XK_Caps_Lock: return VK_CAPITAL;
    case XK_Escape: return VK_ESCAPE;
    case XK_space: case XK_KP_Space: return VK_SPACE;
    case XK_Prior: case XK_KP_Prior: return VK_PRIOR;
    case XK_Next: case XK_KP_Next: return VK_NEXT;
    case XK_End: case XK_KP_End: return VK_END;
    case XK_Home: case XK_KP_Home: return VK_HOME;
    case XK_Left: case XK_KP_Left: return VK_LEFT;
    case XK_Up: case XK_KP_Up: return VK_UP;
    case XK_Right: case XK_KP_Right: return VK_RIGHT;
    case XK_Down: case XK_KP_Down: return VK_DOWN;
    case XK_Insert: case XK_KP_Insert: return VK_INSERT;
    case XK_Delete: case XK_KP_Delete: return VK_DELETE;
    case XK_Super_L: case XK_Super_R: return VK_LWIN;
    case XK_Menu: return 0x5D;  // VK_APPS
    case XK_Print: return 0x2C;
    case XK_Scroll_Lock: return 0x91;
    case XK_Num_Lock: return 0x90;
    case XK_KP_Multiply: return 0x6A;
    case XK_KP_Add: return 0x6B;
    case XK_KP_Subtract: return 0x6D;
    case XK_KP_Decimal: return 0x6E;
    case XK_KP_Divide: return 0x6F;
    case XF86XK_AudioMute: return VK_VOLUME_MUTE;
    case XF86XK_AudioLowerVolume: return VK_VOLUME_DOWN;
    case XF86XK_AudioRaiseVolume: return VK_VOLUME_UP;
    case XF86XK_AudioNext: return 0xB0;
    case XF86XK_AudioPrev: return 0xB1;
    case XF86XK_AudioStop: return 0xB2;
    case XF86XK_AudioPlay: return 0xB3;
    case XK_semicolon: return 0xBA;
    case XK_equal: return 0xBB;
    case XK_comma: return 0xBC;
    case XK_minus: return 0xBD;
    case XK_period: return 0xBE;
    case XK_slash: return 0xBF;
    case XK_grave: return 0xC0;
    case XK_bracketleft: return 0xDB;
    case XK_backslash: return 0xDC;
    case XK_bracketright: return 0xDD;
    case XK_apostrophe: return 0xDE;
    default:
        // Still a key press: the saver treats an unknown key like any other.
        return 0xFF;
    }
}
