#include "platform/crt_random.h"

#include <cstdint>

namespace {
std::uint32_t state = 1;
}

int CrtRand() {
    state = state * 214013u + 2531011u;
    return static_cast<int>((state >> 16) & 0x7FFF);
}

void ResetCrtRand() { state = 1; }
