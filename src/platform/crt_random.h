// The process's one pseudo-random sequence: the C runtime's generator (0 to
// 32767), never seeded, so every run draws the same numbers.
#pragma once

int CrtRand();
// Back to the start of the sequence, for tests.
void ResetCrtRand();
