// The clock is CLOCK_MONOTONIC (time since boot), so wall-clock changes never make the game's
// pulsing jump; only its low 32 bits are kept, and callers subtract readings as uint32_t.
#include "media/timing.h"

#include <chrono>
#include <thread>

uint32_t tick_ms() {
  using namespace std::chrono;
  return static_cast<uint32_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// Linux sleeps already have sub-millisecond resolution, so there is no timer period to raise.
void delay_ms(int32_t ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
