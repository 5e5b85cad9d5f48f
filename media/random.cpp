// A two-table additive generator with rotations: cheap, with a long period, and reproducible
// from a seed so tests can pin down what the drawing's random choices produce.
#include "media/random.h"

#include <unistd.h>

#include "media/timing.h"

namespace {

constexpr int RANDOM_TABLE = 17;                    // words in each of the two tables
constexpr uint32_t RANDOM_MULTIPLIER = 0x53A9B4FB;  // spreads the seed over the tables
constexpr int RANDOM_WARM_UP = 31;                  // steps discarded after seeding

struct RandomState {
  uint32_t a[RANDOM_TABLE];  // first table; rotated by 5 into b
  uint32_t b[RANDOM_TABLE];  // second table; rotated by 13 into the output
  int i;                     // current position, counts down and wraps 0 -> 16
  int j;                     // lagged position, ten behind i (mod 17)
  bool seeded;               // false until the first seed, from the clock if nobody gave one
};

RandomState RANDOM;  // the program's one generator

uint32_t rotate_right(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

uint32_t random_step() {
  uint32_t x = rotate_right(RANDOM.b[RANDOM.i], 13) + RANDOM.b[RANDOM.j];
  uint32_t y = rotate_right(RANDOM.a[RANDOM.i], 5) + RANDOM.a[RANDOM.j];
  RANDOM.a[RANDOM.i] = x;
  RANDOM.b[RANDOM.i] = y;
  RANDOM.i = RANDOM.i == 0 ? RANDOM_TABLE - 1 : RANDOM.i - 1;
  RANDOM.j = RANDOM.j == 0 ? RANDOM_TABLE - 1 : RANDOM.j - 1;
  return x;
}

void random_fill(uint32_t seed) {
  uint32_t t = seed;
  for (int k = 0; k < RANDOM_TABLE; ++k) {
    RANDOM.b[k] = 1 - t * RANDOM_MULTIPLIER;
    RANDOM.a[k] = 1 - RANDOM.b[k] * RANDOM_MULTIPLIER;
    t = RANDOM.a[k];
  }
  RANDOM.i = 0;
  RANDOM.j = 10;
  for (int k = 0; k < RANDOM_WARM_UP; ++k) random_step();
}

// Every run starts elsewhere: the thread id and the clock differ from run to run.
void random_seed_from_clock() {
  RANDOM.seeded = true;
  random_fill(static_cast<uint32_t>(gettid()) ^ tick_ms());
}

}  // namespace

void random_seed(uint32_t seed) {
  if (!RANDOM.seeded) random_seed_from_clock();
  random_fill(seed);
}

uint32_t random_int(int32_t max) {
  if (!RANDOM.seeded) random_seed_from_clock();
  const uint32_t range = static_cast<uint32_t>(max) + 1;  // 0 stands for the full 2^32
  const uint32_t x = random_step();
  if (range == 0) return x;
  // Scaling by the high half of the product keeps the result in 0..max without a modulo bias
  // towards small values of the low bits.
  return static_cast<uint32_t>((static_cast<uint64_t>(x) * range) >> 32);
}
