// The program's own random generator (seeded from the clock on first use).
#pragma once

#include <cstdint>

// A value in 0..max for max >= 0; the raw 32-bit output for max = -1.
uint32_t random_int(int32_t max);
// Restarts the generator from seed; the same seed gives the same sequence.
void random_seed(uint32_t seed);
