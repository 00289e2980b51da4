// X keysyms to virtual-key codes, by meaning.
#pragma once

#include "platform/types.h"

WPARAM VirtualKeyFromKeysym(unsigned long keysym);
