// Millisecond clock and sleep.
#pragma once

#include <cstdint>

// Milliseconds of a monotonic clock; wraps after 2^32 ms, so subtract readings as uint32_t.
uint32_t tick_ms();
// Sleeps the calling thread for ms milliseconds (about 1 ms resolution).
void delay_ms(int32_t ms);
